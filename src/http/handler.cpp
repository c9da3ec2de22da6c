#include "http/handler.h"

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "core/events.h"
#include "core/registry.h"
#include "http/request.h"
#include "http/transfer_floor.h"
#include "platform/file.h"
#include "platform/sendfile.h"

namespace {

// Each send of a header or a page; the file body is bounded by the transfer
// floor instead (transfer_floor.h).
constexpr unsigned kSendTimeoutMs = 60000;
constexpr size_t kRecvChunk = 2048;
// The copying send path (Windows) reads and sends this much per call: no more
// than the floor, so that a slow link's every piece counts before the floor's
// deadline. Linux hands over larger pieces with sendfile.
constexpr size_t kCopyChunk = kFloorBytes;
// Longest wait for room in the socket before the transfer floor looks at the
// peer's progress again, where the send queue can be watched: a reader that
// stopped is dropped at most this long after the floor's deadline.
constexpr int64_t kProgressLookMs = 5000;
// CloseGracefully: how much and how long to read after an answer.
constexpr size_t kDrainMaxBytes = 65536;
constexpr unsigned kDrainMaxMs = 2000;

// Sends len bytes, looping over partial sends. True when all were sent (or len
// is below 1); false at the first send error (time-outs included). Never
// closes the socket.
bool SendAll(SOCKET s, const char* data, int len) {
  if (len < 1) return true;
  int sent = 0;
  while (sent < len) {
    const int n = SendSome(s, data + sent, len - sent);
    if (n <= 0) return false;  // an error; 0 cannot happen for len > 0
    sent += n;
  }
  return true;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SendText(SOCKET s, const char* text, size_t len) {
  (void)SendAll(s, text, static_cast<int>(len));
}

// The planned file answer. Returns after the last byte or the first failure;
// the caller closes the socket.
void SendFile(SOCKET s, HWND hwnd, HostedItem& item, const ResponsePlan& plan) {
  // The file must still be the one that was shared: a change in size, time or
  // identity means its bytes are no longer those the planned length promises.
  ScopedFile file(OpenHeldFileForReading(item.fileHandle.get()));
  FileStamp stamp;
  if (!file.valid() || !ReadFileStamp(file.get(), stamp) || !(stamp == item.stamp)) {
    SendText(s, kFileChangedAnswer, sizeof kFileChangedAnswer - 1);
    return;
  }
  if (!SendAll(s, plan.head.data(), static_cast<int>(plan.head.size()))) return;
  if (item.size == 0) return;

  PrepareFileSendSocket(s);
  char buf[kCopyChunk];
  uint64_t offset = plan.offset;
  uint64_t left = plan.length;
  uint64_t handed = 0;  // body bytes handed to the system
  uint64_t queued = 0;  // of those (and of the header), not yet taken by the peer
  // Where the send queue can be watched (Linux), a wait for room is cut into
  // short ones, each ending with a look at what the peer took meanwhile: with
  // large socket buffers a slow reader frees room only now and then, yet
  // takes bytes all the time. Elsewhere what was handed over counts, and a
  // wait that runs out ends the transfer.
  const bool watchQueue = UnacknowledgedBytes(s, queued);
  TransferFloor floor;
  StartTransferFloor(floor, NowMs());
  int64_t timeoutSetMs = -1;
  while (left > 0) {
    int64_t waitMs = TransferFloorDeadline(floor) - NowMs();
    if (waitMs <= 0) break;  // below the floor: the peer takes too little
    if (watchQueue && waitMs > kProgressLookMs) waitMs = kProgressLookMs;
    if (waitMs != timeoutSetMs) {  // a reader that keeps up: the same 5 s every time
      SetSendTimeoutMs(s, static_cast<unsigned>(waitMs));
      timeoutSetMs = waitMs;
    }
    const int64_t n = SendFileToSocket(s, file.get(), offset, left, buf, sizeof buf);
    if (n == 0) break;  // the file came up short
    if (n < 0 && !(watchQueue && SendFileTimedOut())) break;  // the send failed
    if (n > 0) {
      offset += static_cast<uint64_t>(n);
      left -= static_cast<uint64_t>(n);
      handed += static_cast<uint64_t>(n);
    }
    if (!UnacknowledgedBytes(s, queued)) queued = 0;
    NoteTransferProgress(floor, NowMs(), handed > queued ? handed - queued : 0);
  }
  if (left == 0) item.downloads.fetch_add(1);
  AppEvent done;
  done.kind = EventKind::kDownloadDone;
  PushEvent(hwnd, std::move(done));
}

// Reads the request head into req until CheckHead finds it complete or too
// large (true). False when the peer closed or failed, or when the head was not
// complete at deadlineMs (nothing is sent then).
bool ReadHead(SOCKET s, std::string& req, int64_t deadlineMs) {
  char chunk[kRecvChunk];
  for (;;) {
    const int64_t leftMs = deadlineMs - NowMs();
    if (leftMs <= 0) return false;
    SetRecvTimeoutMs(s, static_cast<unsigned>(leftMs));
    const int n = RecvSome(s, chunk, sizeof chunk);
    if (n <= 0) return false;
    const size_t before = req.size();
    req.append(chunk, static_cast<size_t>(n));
    if (CheckHead(req, before) != HeadState::kIncomplete) return true;
  }
}

}  // namespace

void CloseGracefully(SOCKET s) {
  ShutdownSend(s);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMaxMs);
  char buf[4096];
  size_t drained = 0;
  while (drained < kDrainMaxBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    SetRecvTimeoutMs(s, static_cast<unsigned>(left));
    const int n = RecvSome(s, buf, sizeof buf);
    if (n <= 0) break;
    drained += static_cast<size_t>(n);
  }
  CloseSocket(s);
}

void HandleClient(SOCKET s, HWND hwnd) { HandleClientWithHead(s, hwnd, std::string()); }

void HandleClientWithHead(SOCKET s, HWND hwnd, std::string req) {
  // Whatever is still missing of the head must arrive within the deadline,
  // counted from here.
  const int64_t headDeadlineMs = NowMs() + kHeadDeadlineMs;
  SetSendTimeoutMs(s, kSendTimeoutMs);
  // Answers go out as header and body in separate sends; Nagle's algorithm
  // would hold the second back until the first is acknowledged.
  SetNoDelay(s);

  if (CheckHead(req, 0) == HeadState::kIncomplete && !ReadHead(s, req, headDeadlineMs)) {
    CloseSocket(s);
    return;
  }
  const HttpRequest request = ParseRequestHead(req);
  std::shared_ptr<HostedItem> item;
  if (request.route == Route::kItem) item = FindHostedBySlug(request.slug);
  const ResponsePlan plan = PlanResponse(request, item.get());
  if (plan.file) {
    SendFile(s, hwnd, *item, plan);
  } else {
    SendText(s, plan.head.data(), plan.head.size());
    if (!plan.body.empty()) SendText(s, plan.body.data(), plan.body.size());
  }
  CloseGracefully(s);
  // `item` is released here; if it has left the registry meanwhile, this is
  // where its lock is closed and its temporary archive deleted.
}
