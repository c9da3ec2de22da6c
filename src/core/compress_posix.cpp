#include "core/compress.h"

namespace {

// One argument for the Windows-style split of the process seam
// (SplitCommandLine): double-quoted, backslashes before a quote doubled and
// the quote escaped, trailing backslashes doubled.
std::wstring QuoteArgument(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out.push_back(c);
    backslashes = 0;
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

// The shell changes into the folder and hands over to zip, whose exit code
// becomes the child's. zip writes the archive to its standard output, which
// the shell opens at the destination: a forced end then leaves nothing but the
// destination file (zip's own temporary file would stay next to it otherwise).
std::wstring CompressorCommandLine(const std::wstring& folder, const std::wstring& archive) {
  static const wchar_t kScript[] = L"cd -- \"$0\" && exec zip -r -q -y - . > \"$1\"";
  return L"/bin/sh -c " + QuoteArgument(kScript) + L" " + QuoteArgument(folder) + L" " +
         QuoteArgument(archive);
}
