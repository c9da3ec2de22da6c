// The tests' shell: records every message box, status text, selection label
// and Start-button change the core makes, so tests assert what a user sees.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/shell.h"

struct RecordedBox {
  std::wstring text;
  std::wstring caption;
  unsigned type = 0;
};

struct RecordingShell {
  std::mutex mtx;
  std::vector<RecordedBox> boxes;
  std::vector<std::wstring> statuses;
  std::wstring selection;
  bool startEnabled = false;
  int pumps = 0;
  int listRefreshes = 0;
  int latestRefreshes = 0;
  std::vector<std::wstring> clipboard;  // every text copied, oldest first
  int nextAnswer = 1;  // what ShellMessageBox returns (IDOK)

  void Clear();
  std::wstring LastStatus();
};

RecordingShell& TestShell();
