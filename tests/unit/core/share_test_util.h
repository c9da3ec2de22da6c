// Shared pieces of the sharing suites: a clean registry, server and tunnel
// around every test, what the recording shell saw, and environment variables
// that point the temporary folder (and the helper programs' lookup) elsewhere.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "core/links.h"
#include "core/registry.h"
#include "core/share.h"
#include "core/shell.h"
#include "http/listener.h"
#include "net_client.h"
#include "platform/message.h"
#include "platform/text.h"
#include "recording_shell.h"
#include "test_util.h"
#include "tunnel/supervisor.h"

// Writes bytes to a new file at any path. (std::filesystem converts wide
// paths by the C locale on POSIX, which refuses non-ASCII names.)
inline std::wstring WriteFileAt(const std::wstring& path, const std::string& bytes) {
#ifdef _WIN32
  std::ofstream f(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
#else
  std::ofstream f(WstrToUtf8(path), std::ios::binary | std::ios::trunc);
#endif
  f << bytes;
  return path;
}

const wchar_t kFreeTierText[] =
    L"You've reached the free-tier sharing limit.\n\n"
    L"   Free plan:  up to 3 files  OR  1 folder per session.\n"
    L"   Premium:    unlimited files, mixed batches, larger size cap.\n\n"
    L"Stop or remove an existing share to add another, or stay tuned - Premium is coming soon.";

// The user's temporary folder moved into a private test folder, so the
// archives' folder ("vornhale", POSIX "vornhale-<uid>") can be checked for
// leftovers.
class ScopedTempFolder {
 public:
  ScopedTempFolder()
#ifdef _WIN32
      : tmp_("TMP", WstrToUtf8(dir_.path())), temp_("TEMP", WstrToUtf8(dir_.path()))
#else
      : tmp_("TMPDIR", WstrToUtf8(dir_.path()))
#endif
  {
  }
#ifdef _WIN32
  std::wstring ArchiveFolder() const { return dir_.File(L"vornhale"); }
#else
  std::wstring ArchiveFolder() const { return dir_.File(L"vornhale-" + std::to_wstring(geteuid())); }
#endif
  std::wstring Path() const { return dir_.path(); }

 private:
  TempDir dir_;
  ScopedEnv tmp_;
#ifdef _WIN32
  ScopedEnv temp_;
#endif
};

class ShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestShell().Clear();
    ClearHosted();
    g_pendingPaths.clear();
    hwnd_ = CreateMessageWindow();
    g_hMain = hwnd_;
  }
  void TearDown() override {
    StopTunnel();
    ClearHosted();
    StopServer();
    g_pendingPaths.clear();
    AppMessage m;
    while (WaitAppMessage(m, 0)) {
    }
    g_hMain = nullptr;
    DestroyMessageWindow(hwnd_);
    EXPECT_EQ(HostedCount(), 0u);
    EXPECT_FALSE(g_serverRunning.load());
    EXPECT_FALSE(g_tunRunning.load());
  }

  std::vector<RecordedBox> Boxes() {
    std::lock_guard<std::mutex> lock(TestShell().mtx);
    return TestShell().boxes;
  }
  std::vector<std::wstring> Statuses() {
    std::lock_guard<std::mutex> lock(TestShell().mtx);
    return TestShell().statuses;
  }
  std::wstring Selection() {
    std::lock_guard<std::mutex> lock(TestShell().mtx);
    return TestShell().selection;
  }
  // Exactly one box was shown since the last Clear, with this text and icon.
  void ExpectOneBox(const std::wstring& text, unsigned icon, const wchar_t* caption = kCaption) {
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << (boxes.empty() ? "" : WstrToUtf8(boxes.back().text));
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, caption);
    EXPECT_EQ(boxes[0].type, kMbOk | icon);
  }
  void ExpectFreeTierBox() { ExpectOneBox(kFreeTierText, kMbIconInformation, kCaptionPremium); }
  void ExpectNoBox() {
    const auto boxes = Boxes();
    EXPECT_TRUE(boxes.empty()) << WstrToUtf8(boxes.back().text);
  }
  std::shared_ptr<HostedItem> Item(size_t i) {
    std::lock_guard<std::mutex> lock(g_hostedMtx);
    return i < g_hosted.size() ? g_hosted[i] : nullptr;
  }

  HWND hwnd_ = nullptr;
};

// The answer to GET /<slug>?dl=1 from the running listener on 127.0.0.1:
// head and body split at the blank line.
struct Download {
  std::string head;
  std::string body;
};
inline Download FetchItem(const std::string& slug) {
  Download d;
  SOCKET s = ConnectLoopback(g_port);
  if (s == INVALID_SOCKET) return d;
  SendText(s, "GET /" + slug + "?dl=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  const std::string all = ReadAll(s, 10000);
  closesocket(s);
  const size_t end = all.find("\r\n\r\n");
  if (end == std::string::npos) return d;
  d.head = all.substr(0, end + 2);
  d.body = all.substr(end + 4);
  return d;
}
