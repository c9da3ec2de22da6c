// What worker threads report to the front end: one queue of typed events.
// A worker pushes an event and wakes the front end's loop with one posted
// WM_APP_EVENTS that carries nothing; the loop pops every queued event. No
// pointer or text travels in a window message, so a message another program
// posts can do no more than wake the loop to whatever is queued.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// The wake-up message (WM_USER + 1): wParam and lParam are always 0 and never read.
constexpr UINT WM_APP_EVENTS = 1025;

enum class EventKind {
  kTunnelFound,   // an address was found; probing begins
  kTunnelReady,   // publish `address`; `probeOk` when the probe answered 200
  kTunnelFailed,  // no address in time, or the client's output ended
  kDownloadDone,  // a file transfer ended, complete or not
};

struct AppEvent {
  EventKind kind = EventKind::kDownloadDone;
  uint32_t generation = 0;  // tunnel events: the tunnel start they belong to
  bool probeOk = false;     // kTunnelReady only
  std::string address;      // kTunnelReady only: "https://host", may be empty
};

// Beyond this many unread events a push is dropped, as a full window message
// queue drops a post.
constexpr size_t kMaxQueuedEvents = 10000;

// Any thread: queues the event, then posts WM_APP_EVENTS to `wake` (a null
// window: nothing posted). False when the event was dropped (queue full).
bool PushEvent(HWND wake, AppEvent event);

// The front end's thread: takes the oldest event; false when none is queued.
bool PopEvent(AppEvent& out);
