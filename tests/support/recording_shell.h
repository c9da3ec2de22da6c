// The tests' shell, recording what the core shows the user, and the sharing fixture (clean registry, server, tunnel).
#pragma once

#include <gtest/gtest.h>

#include "http/listener.h"  // with the registry
#include "net_client.h"
#include "platform/message.h"
#include "platform/text.h"
#include "sharing/share.h"
#include "sharing/shell.h"
#include "test_util.h"
#include "tunnel/supervisor.h"

struct RecordedBox { std::wstring text, caption; unsigned type; };
struct RecordedSkip { std::string path; SkipReason why; int error; };
struct RecordedProgress { uint64_t files, bytes; bool finished; };
struct RecordedState {
  std::vector<RecordedBox> boxes;
  std::vector<std::wstring> statuses, clipboard;  // clipboard: every text copied, oldest first
  std::wstring selection;
  std::vector<RecordedSkip> skipped;  // entries left out of folder archives
  std::vector<RecordedProgress> progress;
  bool startEnabled = false;
  int pumps = 0, listRefreshes = 0, latestRefreshes = 0, nextAnswer = 1;  // the boxes' answer (IDOK)
};
struct RecordingShell : RecordedState {
  std::mutex mtx;
  RecordedState Snapshot() { std::lock_guard<std::mutex> lock(mtx); return *this; }
  void Clear() { std::lock_guard<std::mutex> lock(mtx); static_cast<RecordedState&>(*this) = RecordedState(); }
  std::wstring LastStatus() { std::lock_guard<std::mutex> lock(mtx); return statuses.empty() ? L"" : statuses.back(); }
};

inline RecordingShell& TestShell() {
  static RecordingShell shell;
  return shell;
}
// The body of GET /<slug>?dl=1 from the running listener on 127.0.0.1.
inline std::string FetchBody(const std::string& slug) { return BodyOf(Fetch(ServerPort(), Get("/" + slug + "?dl=1"))); }

class ShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestShell().Clear(), ClearHosted(), SetStagedPaths({}), g_hMain = hwnd_ = CreateMessageWindow();
  }
  void TearDown() override {
    StopTunnel(), ClearHosted(), StopServer(), SetStagedPaths({});
    for (AppMessage m; WaitAppMessage(m, 0);) continue;
    for (AppEvent e; PopEvent(e);) continue;
    g_hMain = nullptr, DestroyMessageWindow(hwnd_);
    EXPECT_FALSE(HostedCount() || ServerRunning() || TunnelRunning());
  }
  std::vector<RecordedBox> Boxes() { return TestShell().Snapshot().boxes; }
  std::vector<std::wstring> Statuses() { return TestShell().Snapshot().statuses; }
  // Exactly one box since the last Clear (none for an empty text): "caption|text|type".
  void ExpectBox(const std::wstring& text, unsigned icon = 0, const wchar_t* caption = kCaption) {
    std::wstring all;
    for (const auto& b : Boxes()) all += b.caption + L"|" + b.text + L"|" + std::to_wstring(b.type) + L"\n";
    const std::wstring want = caption + (L"|" + text + L"|") + std::to_wstring(kMbOk | icon) + L"\n";
    EXPECT_EQ(WstrToUtf8(all), text.empty() ? "" : WstrToUtf8(want));
  }
  auto Item(size_t i) { const auto all = SnapshotHosted(); return i < all.size() ? all[i] : nullptr; }
  HWND hwnd_ = nullptr;
};
