#include "recording_shell.h"

RecordingShell& TestShell() {
  static RecordingShell shell;
  return shell;
}

void RecordingShell::Clear() {
  std::lock_guard<std::mutex> lock(mtx);
  boxes.clear();
  statuses.clear();
  selection.clear();
  startEnabled = false;
  pumps = 0;
  listRefreshes = 0;
  latestRefreshes = 0;
  clipboard.clear();
  nextAnswer = 1;
}

std::wstring RecordingShell::LastStatus() {
  std::lock_guard<std::mutex> lock(mtx);
  return statuses.empty() ? std::wstring() : statuses.back();
}

int ShellMessageBox(HWND, const std::wstring& text, const wchar_t* caption, unsigned type) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  s.boxes.push_back(RecordedBox{text, caption ? caption : L"", type});
  return s.nextAnswer;
}

void SetStatus(const wchar_t* text) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  s.statuses.emplace_back(text ? text : L"");
}

void ShellSetSelectionText(const std::wstring& text) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  s.selection = text;
}

void ShellEnableStart(bool enable) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  s.startEnabled = enable;
}

void ShellPumpMessages() {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  ++s.pumps;
}

void RefreshListView(HWND) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  ++s.listRefreshes;
}

void ShowLatestLink(HWND) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  ++s.latestRefreshes;
}

void CopyTextToClipboard(const std::wstring& text) {
  RecordingShell& s = TestShell();
  std::lock_guard<std::mutex> lock(s.mtx);
  s.clipboard.push_back(text);
}
