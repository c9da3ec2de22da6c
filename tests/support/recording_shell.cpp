#include "recording_shell.h"

static void Record(auto change) {
  std::lock_guard<std::mutex> lock(TestShell().mtx);
  change(TestShell());
}
int ShellMessageBox(HWND, const std::wstring& text, const wchar_t* caption, unsigned type) {
  int answer = 0;
  Record([&](RecordingShell& s) { s.boxes.push_back({text, caption ? caption : L"", type}), answer = s.nextAnswer; });
  return answer;
}
void SetStatus(const wchar_t* text) { Record([&](RecordingShell& s) { s.statuses.emplace_back(text ? text : L""); }); }
void ShellNote(StatusNote note) { SetStatus(WindowStatusText(note)); }
void ShellReportSkipped(const std::string& path, SkipReason why, int error) {
  Record([&](RecordingShell& s) { s.skipped.push_back({path, why, error}); });
}
void ShellArchiveProgress(uint64_t files, uint64_t bytes, bool finished) {
  Record([&](RecordingShell& s) { s.progress.push_back({files, bytes, finished}); });
}
void ShellSetSelectionText(const std::wstring& text) { Record([&](RecordingShell& s) { s.selection = text; }); }
void ShellEnableStart(bool enable) { Record([&](RecordingShell& s) { s.startEnabled = enable; }); }
void ShellPumpMessages() { Record([](RecordingShell& s) { ++s.pumps; }); }
void RefreshListView(HWND) { Record([](RecordingShell& s) { ++s.listRefreshes; }); }
void ShowLatestLink(HWND) { Record([](RecordingShell& s) { ++s.latestRefreshes; }); }
void CopyTextToClipboard(const std::wstring& text) { Record([&](RecordingShell& s) { s.clipboard.push_back(text); }); }
