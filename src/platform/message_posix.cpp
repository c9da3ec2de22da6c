#include "platform/message.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
struct MessageQueue {
  std::mutex mtx;
  std::condition_variable cv;
  std::deque<AppMessage> messages;
};

// Never destroyed: detached connection threads may still post while the
// process is ending, after static destructors have started.
MessageQueue& Queue() {
  static MessageQueue* queue = new MessageQueue;
  return *queue;
}

std::atomic<uintptr_t> g_nextWindow{0x1000};
}  // namespace

bool PostWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MessageQueue& q = Queue();
  {
    std::lock_guard<std::mutex> lock(q.mtx);
    q.messages.push_back(AppMessage{hwnd, msg, wParam, lParam});
  }
  q.cv.notify_one();
  return true;
}

bool WaitAppMessage(AppMessage& out, unsigned timeoutMs) {
  MessageQueue& q = Queue();
  std::unique_lock<std::mutex> lock(q.mtx);
  if (!q.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [&q] { return !q.messages.empty(); }))
    return false;
  out = q.messages.front();
  q.messages.pop_front();
  return true;
}

HWND CreateMessageWindow() {
  return reinterpret_cast<HWND>(g_nextWindow.fetch_add(0x10));
}

void DestroyMessageWindow(HWND) {}
