#include "core/events.h"

#include <deque>
#include <mutex>
#include <utility>

#include "platform/message.h"

namespace {
struct EventQueue {
  std::mutex mtx;
  std::deque<AppEvent> events;  // read and written under mtx
};

// Never destroyed: detached connection threads may still push while the
// process is ending, after static destructors have started.
EventQueue& Queue() {
  static EventQueue* queue = new EventQueue;
  return *queue;
}
}  // namespace

bool PushEvent(HWND wake, AppEvent event) {
  EventQueue& q = Queue();
  {
    std::lock_guard<std::mutex> lock(q.mtx);
    if (q.events.size() >= kMaxQueuedEvents) return false;
    q.events.push_back(std::move(event));
  }
  if (wake) PostWindowMessage(wake, WM_APP_EVENTS, 0, 0);
  return true;
}

bool PopEvent(AppEvent& out) {
  EventQueue& q = Queue();
  std::lock_guard<std::mutex> lock(q.mtx);
  if (q.events.empty()) return false;
  out = std::move(q.events.front());
  q.events.pop_front();
  return true;
}
