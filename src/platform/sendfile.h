// Sending a stretch of a file to a socket. Linux hands the bytes over with
// sendfile(2) without copying them through the program; elsewhere they are
// read into the caller's buffer and sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/net.h"

// Readies s for a run of SendFileToSocket calls. On Linux it caps the send
// buffer: autotuning lets every connection queue 4 MiB, and with many
// downloads at once the queued megabytes cost a third of the throughput over
// loopback. Windows keeps its own buffering.
void PrepareFileSendSocket(SOCKET s);

// Sends up to `len` bytes of h, starting at byte `offset`, to s. Returns the
// number of bytes sent (> 0), 0 when the file holds no byte at `offset` (it is
// shorter than expected), or -1 on a read or send error, the socket's send
// time-out included; on POSIX -1 means that nothing of this call was sent. `buf` (bufLen bytes, > 0) is scratch space for the
// read-and-send path. Reads at the offset given (sendfile with an offset, or
// ReadFileAt), never from h's file position, so on POSIX several transfers may
// read through one descriptor at once.
int64_t SendFileToSocket(SOCKET s, FileHandle h, uint64_t offset, uint64_t len, char* buf,
                         size_t bufLen);

// The copying way of SendFileToSocket: read into buf, then send. The Windows
// build always goes this way; Linux falls back to it where sendfile cannot.
int64_t SendFileByCopy(SOCKET s, FileHandle h, uint64_t offset, uint64_t len, char* buf,
                       size_t bufLen);

// Whether the last SendFileToSocket on this thread that returned -1 gave up
// at the socket's send time-out (rather than on an error of the connection).
bool SendFileTimedOut();

// Bytes handed to the system for s that the peer has not acknowledged yet
// (Linux: SIOCOUTQ). False where the system does not tell (Windows).
bool UnacknowledgedBytes(SOCKET s, uint64_t& queued);
