// The shell functions of the terminal program (core/shell.h): messages go to
// standard error, questions are answered "No", and there is no window, list
// or clipboard to update.
#include <cstdio>

#include "core/shell.h"
#include "platform/text.h"

int ShellMessageBox(HWND, const std::wstring& text, const wchar_t* caption, unsigned type) {
  std::fprintf(stderr, "%s: %s\n", WstrToUtf8(caption ? caption : L"").c_str(),
               WstrToUtf8(text).c_str());
  return (type & 0xF) == kMbYesNo ? kIdNo : 1;
}

void SetStatus(const wchar_t* text) {
  if (text) std::fprintf(stderr, "%s\n", WstrToUtf8(text).c_str());
}

void ShellSetSelectionText(const std::wstring&) {}
void ShellEnableStart(bool) {}
void ShellPumpMessages() {}
void RefreshListView(HWND) {}
void ShowLatestLink(HWND) {}
void CopyTextToClipboard(const std::wstring&) {}
