// Arbitrary bytes, in a connection's read pieces, to the request parser and the answer planner, in memory.
#include <cstdlib>

#include "http/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HostedItem small, empty;
  small.name = "a<b>&\"c'.txt", small.size = 100, empty.name = "empty.bin";
  std::string head;
  HeadState state = HeadState::kIncomplete;
  for (size_t at = 0; at < size && state == HeadState::kIncomplete; at += 2048) {
    const size_t before = head.size();
    head.append(reinterpret_cast<const char*>(data) + at, size - at < 2048 ? size - at : 2048);
    state = CheckHead(head, before);
  }
  if (state == HeadState::kIncomplete) return 0;  // the server would wait, then close
  const HttpRequest req = ParseRequestHead(head);
  const HostedItem* item = req.route != Route::kItem ? nullptr : req.slug == "abc" ? &small
                           : req.slug == "Empty_1" ? &empty : nullptr;
  const ResponsePlan plan = PlanResponse(req, item);
  // Every answer is a head ending in a blank line; a file range lies in the file.
  if (!plan.head.ends_with("\r\n\r\n") ||
      (plan.file && (!item || plan.offset + plan.length > item->size || (plan.length == 0 && item->size != 0))))
    abort();
  return 0;
}
