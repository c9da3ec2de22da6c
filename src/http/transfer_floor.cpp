#include "http/transfer_floor.h"

void StartTransferFloor(TransferFloor& floor, int64_t nowMs) {
  floor.marks.clear();
  floor.marks.emplace_back(nowMs, 0);
}

void NoteTransferProgress(TransferFloor& floor, int64_t nowMs, uint64_t taken) {
  if (floor.marks.empty()) StartTransferFloor(floor, nowMs);
  if (taken <= floor.marks.back().second) return;
  floor.marks.emplace_back(nowMs, taken);
  // A mark kFloorBytes or more behind the latest can no longer decide the
  // deadline: every later stretch starting at it holds enough bytes.
  while (floor.marks.front().second + kFloorBytes <= taken) floor.marks.pop_front();
}

int64_t TransferFloorDeadline(const TransferFloor& floor) {
  return floor.marks.empty() ? 0 : floor.marks.front().first + kFloorWindowMs;
}
