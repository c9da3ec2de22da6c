#include "platform/command_line.h"

namespace {
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

void AppendQuotedArgument(std::wstring& out, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    out += arg;  // backslashes are literal when no quote follows them
    return;
  }
  out += L'"';
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    out += c;
    backslashes = 0;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
}
}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> args;
  const size_t n = commandLine.size();
  size_t i = 0;
  while (i < n && IsBlank(commandLine[i])) ++i;
  if (i >= n) return args;

  // Program name: no escapes at all.
  std::wstring first;
  if (commandLine[i] == L'"') {
    ++i;
    while (i < n && commandLine[i] != L'"') first += commandLine[i++];
    if (i < n) ++i;  // closing quote
  } else {
    while (i < n && !IsBlank(commandLine[i])) first += commandLine[i++];
  }
  args.push_back(first);

  for (;;) {
    while (i < n && IsBlank(commandLine[i])) ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(commandLine[i]))) {
      const wchar_t c = commandLine[i];
      if (c == L'\\') {
        size_t slashes = 0;
        while (i < n && commandLine[i] == L'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && commandLine[i] == L'"') {
          arg.append(slashes / 2, L'\\');
          if (slashes % 2 == 1) {
            arg += L'"';
            ++i;
          }
          // An even count leaves the quote to the next round, which toggles.
        } else {
          arg.append(slashes, L'\\');
        }
      } else if (c == L'"') {
        if (quoted && i + 1 < n && commandLine[i + 1] == L'"') {
          arg += L'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::wstring JoinCommandLine(const std::vector<std::wstring>& args) {
  if (args.empty() || args[0].find(L'"') != std::wstring::npos) return std::wstring();
  std::wstring line = L"\"" + args[0] + L"\"";
  for (size_t i = 1; i < args.size(); ++i) {
    line += L' ';
    AppendQuotedArgument(line, args[i]);
  }
  return line;
}
