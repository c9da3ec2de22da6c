// The floor under a file transfer: a connection whose peer takes fewer than
// kFloorBytes of the body in some kFloorWindowMs stretch, counted from the
// first body byte, is closed. A reader that trickles (or has stopped) cannot
// hold a connection thread for hours; a slow but real link stays far above it.
//
// Progress is noted as marks (time, body bytes the peer has taken so far). The
// marks are taken when a send returns, so each one is no earlier than the
// progress it shows: the deadline errs towards keeping a connection, never
// towards closing one that kept to the floor.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>

constexpr uint64_t kFloorBytes = 16384;
constexpr int64_t kFloorWindowMs = 60000;

struct TransferFloor {
  // (ms, bytes taken), oldest first; only the marks the deadline still needs.
  std::deque<std::pair<int64_t, uint64_t>> marks;
};

// The first body byte goes out at nowMs.
void StartTransferFloor(TransferFloor& floor, int64_t nowMs);

// The peer had taken `taken` body bytes at nowMs (never less than before).
void NoteTransferProgress(TransferFloor& floor, int64_t nowMs, uint64_t taken);

// The moment (ms) from which the transfer is below the floor unless more
// progress is noted first: kFloorWindowMs after the oldest mark that lies
// less than kFloorBytes behind the latest.
int64_t TransferFloorDeadline(const TransferFloor& floor);
