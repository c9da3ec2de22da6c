// Child processes: a hidden child started from a program and its arguments,
// optionally with its standard output and standard error merged into one pipe
// that only the program reads; peek, read, forced end, wait and exit code;
// and the job that ends children together with the program.
//
// Windows: CreateProcessW with the program's full path as the application
// name (so no folder is searched: neither the program's own nor the current
// one) and the arguments joined into one command line by JoinCommandLine
// (platform/command_line.h); CREATE_NO_WINDOW, SW_HIDE, PeekNamedPipe,
// TerminateProcess, a kill-on-job-close job object.
//
// POSIX: fork + exec of the argument list as it is (a program name without a
// slash is looked up on PATH). The child leads its own process group, so a
// forced end reaches everything it started, and gets PR_SET_PDEATHSIG
// (SIGKILL), so it dies with the program even when the program itself is
// killed. Linux sends that signal when the *thread* that forked ends, not the
// process: every fork therefore happens on one spawner thread that lives until
// the program ends, whichever thread asks for the start. Grandchildren are not
// covered by the death signal (only by the group kill of TerminateChild).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/owned.h"

// A process HANDLE on Windows, a pid on POSIX; 0 when none.
using ProcessId = intptr_t;
// A pipe HANDLE on Windows, a descriptor on POSIX; -1 when none.
using PipeHandle = intptr_t;
constexpr PipeHandle kInvalidPipe = -1;

void ClosePipeHandle(PipeHandle h);

// Move-only owner of a pipe end.
using ScopedPipe = Owned<PipeHandle, kInvalidPipe, ClosePipeHandle>;

// Move-only owner of a started child. Destroying it releases the handle
// (Windows) or reaps the child if it has already ended (POSIX); it never ends
// or waits for a running child: call TerminateChild and WaitChild first.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { reset(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&& o) noexcept { MoveFrom(o); }
  ChildProcess& operator=(ChildProcess&& o) noexcept {
    if (this != &o) {
      reset();
      MoveFrom(o);
    }
    return *this;
  }
  bool valid() const { return id != 0; }
  void reset();

  ProcessId id = 0;        // HANDLE (Windows) / pid (POSIX)
  uint32_t pid = 0;        // the system's process id, for tests and diagnostics
  bool reaped = false;     // POSIX: waitpid has collected the child
  int32_t exitStatus = 0;  // POSIX: valid once reaped

 private:
  void MoveFrom(ChildProcess& o) {
    id = o.id;
    pid = o.pid;
    reaped = o.reaped;
    exitStatus = o.exitStatus;
    o.id = 0;
    o.pid = 0;
    o.reaped = false;
    o.exitStatus = 0;
  }
};

// Starts a hidden child: argv[0] is the program (Windows: a full path, which
// is also the first word of the command line; a relative one is refused),
// the rest its arguments, passed as they are. With outputRead, the child's standard output and standard error
// share the write end of a new pipe, whose read end (inherited by nobody
// else) goes to *outputRead; standard input is empty. Without it the child
// gets no standard streams. With extraEnv, each "NAME=value" entry is set in
// the child's environment on top of the program's own (replacing a variable
// of that name; Windows compares names without regard to case). Anything but
// kStarted leaves nothing open: kBadArguments when argv is empty (Windows:
// or its program is not a full path), kNoPipe when a pipe (or POSIX's null
// device) could not be made, kNotStarted when the process could not be
// created (POSIX: also when exec failed).
enum class ChildStart { kStarted, kBadArguments, kNoPipe, kNotStarted };
ChildStart StartHiddenProcess(const std::vector<std::wstring>& argv, ChildProcess& child,
                              ScopedPipe* outputRead,
                              const std::vector<std::wstring>* extraEnv = nullptr);

// Bytes waiting in the pipe. False when the peek fails, which includes a
// broken pipe (every writer gone) with nothing left to read.
bool PeekPipe(PipeHandle h, uint32_t& available);
// Bytes read, 0 at the end of the stream, -1 on failure. Blocks while the
// pipe is empty and still open: peek first.
int64_t ReadPipe(PipeHandle h, char* buf, size_t len);

// Forced end: TerminateProcess with exit code 0 (Windows); SIGKILL to the
// child's process group (POSIX). False when the child was already gone.
bool TerminateChild(ChildProcess& child);
// Waits up to timeoutMs for the child to end. True when it has ended.
bool WaitChild(ChildProcess& child, unsigned timeoutMs);
// The exit code of an ended child; false while it runs. POSIX: a child ended
// by a signal reports 128 + the signal number, and one that the system reaped
// by itself (SIGCHLD ignored) reports 1, since its real code is lost.
bool ChildExitCode(ChildProcess& child, uint32_t& code);

// The job object that ends every member when the program's last handle to it
// closes (kill-on-job-close). Nothing on POSIX, where the death signal above
// does that job. The job is process_win32.cpp's own.

// Creates the job (no name, default security, limit flag 0x2000; the result of
// setting the limit is not checked). False when the job could not be created.
bool CreateKillOnCloseJob();
// Closes the job, which ends every member still running.
void CloseKillOnCloseJob();
// Adds the child to the job; false when there is no job or it failed.
bool AssignChildToJob(const ChildProcess& child);
