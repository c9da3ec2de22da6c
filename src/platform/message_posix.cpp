#include "platform/message.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
std::mutex g_queueMtx;
std::condition_variable g_queueCv;
std::deque<AppMessage> g_queue;
std::atomic<uintptr_t> g_nextWindow{0x1000};
}  // namespace

bool PostWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(g_queueMtx);
    g_queue.push_back(AppMessage{hwnd, msg, wParam, lParam});
  }
  g_queueCv.notify_one();
  return true;
}

bool WaitAppMessage(AppMessage& out, unsigned timeoutMs) {
  std::unique_lock<std::mutex> lock(g_queueMtx);
  if (!g_queueCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [] { return !g_queue.empty(); }))
    return false;
  out = g_queue.front();
  g_queue.pop_front();
  return true;
}

HWND CreateMessageWindow() {
  return reinterpret_cast<HWND>(g_nextWindow.fetch_add(0x10));
}

void DestroyMessageWindow(HWND) {}
