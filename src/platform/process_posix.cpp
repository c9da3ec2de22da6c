#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/owned_posix.h"
#include "platform/text.h"

namespace {

// Linux delivers PR_SET_PDEATHSIG when the thread that forked ends. Forking on
// a short-lived thread would kill the child with that thread, so every fork
// runs here, on one thread that is never ended: the signal then comes only
// when the whole program ends (normally or killed). The state is allocated
// once and never freed, so nothing is destroyed under the waiting thread at
// exit.
struct SpawnerState {
  std::mutex mtx;
  std::condition_variable cv;
  std::deque<std::function<void()>*> tasks;
  bool threadStarted = false;
};

SpawnerState* Spawner() {
  static SpawnerState* state = new SpawnerState;
  return state;
}

void SpawnerLoop(SpawnerState* s) {
  for (;;) {
    std::function<void()>* task = nullptr;
    {
      std::unique_lock<std::mutex> lock(s->mtx);
      s->cv.wait(lock, [s] { return !s->tasks.empty(); });
      task = s->tasks.front();
      s->tasks.pop_front();
    }
    (*task)();
  }
}

// Runs fn on the spawner thread and waits for it. If that thread cannot be
// started, fn runs on the calling thread (the death signal then follows the
// caller's thread).
void RunOnSpawnerThread(const std::function<void()>& fn) {
  SpawnerState* s = Spawner();
  bool started;
  {
    std::lock_guard<std::mutex> lock(s->mtx);
    if (!s->threadStarted) {
      try {
        std::thread(SpawnerLoop, s).detach();
        s->threadStarted = true;
      } catch (...) {
      }
    }
    started = s->threadStarted;
  }
  if (!started) {
    fn();
    return;
  }
  std::mutex doneMtx;
  std::condition_variable doneCv;
  bool done = false;
  std::function<void()> task = [&] {
    fn();
    std::lock_guard<std::mutex> lock(doneMtx);
    done = true;
    doneCv.notify_all();
  };
  {
    std::lock_guard<std::mutex> lock(s->mtx);
    s->tasks.push_back(&task);
  }
  s->cv.notify_one();
  std::unique_lock<std::mutex> lock(doneMtx);
  doneCv.wait(lock, [&] { return done; });
}

// Where execv finds the program: as given when it holds a slash, else the
// first executable match along PATH. Resolved before fork, where allocating
// is still allowed.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = getenv("PATH");
  const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    std::string candidate(end > start ? dirs.substr(start, end - start) : std::string(1, '.'));
    candidate.push_back('/');
    candidate.append(name);
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end >= dirs.size()) break;
    start = end + 1;
  }
  return name;
}

// A close-on-exec pipe; false (both ends left empty) when it cannot be made.
bool MakePipe(ScopedFd& readEnd, ScopedFd& writeEnd) {
  int fds[2] = {-1, -1};
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  return true;
}

// Makes `fd` the child's descriptor `target`, without the close-on-exec flag.
// Only async-signal-safe calls: runs between fork and exec.
bool MoveFdInChild(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

// The program's environment with `extra` ("NAME=value") set on top.
std::vector<std::string> ChildEnvironment(const std::vector<std::wstring>& extra) {
  std::vector<std::string> entries;
  for (char** e = environ; e && *e; ++e) entries.emplace_back(*e);
  for (const auto& w : extra) {
    const std::string x = WstrToUtf8(w);
    const size_t eq = x.find('=');
    if (eq == std::string::npos || eq == 0) continue;  // not "NAME=value"
    const std::string name = x.substr(0, eq + 1);      // "NAME="
    std::erase_if(entries, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
    entries.push_back(x);
  }
  return entries;
}

// Writes errno into the exec report pipe and ends the child. Async-signal-safe.
[[noreturn]] void ReportAndExit(int report) {
  const int e = errno;
  (void)!write(report, &e, sizeof e);
  _exit(127);
}

// The child between fork and exec: async-signal-safe calls only; never returns.
[[noreturn]] void ExecInChild(pid_t parent, int inFd, int outFd, int report, const char* program,
                              char** argv, char** envp) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // the program already ended
  signal(SIGPIPE, SIG_DFL);             // ignored dispositions survive exec
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!MoveFdInChild(inFd, 0) || !MoveFdInChild(outFd, 1) || !MoveFdInChild(outFd, 2))
    ReportAndExit(report);
  // Nothing else of the program (listening sockets, locked files) leaks
  // into the child. Needs Linux 5.11; older kernels keep today's flags.
#ifdef SYS_close_range
  syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
#endif
  if (envp) {
    execve(program, argv, envp);
  } else {
    execv(program, argv);
  }
  ReportAndExit(report);
}

// Whether the child reported a failed exec (then it is reaped here).
bool ExecFailed(pid_t pid, int report) {
  int childErrno = 0;
  ssize_t got;
  do {
    got = ::read(report, &childErrno, sizeof childErrno);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return false;  // closed on exec: the program runs
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

ChildStart StartOnThisThread(const std::vector<std::wstring>& wargs, ChildProcess& child,
                             ScopedPipe* outputRead, const std::vector<std::wstring>* extraEnv) {
  if (wargs.empty() || wargs[0].empty()) return ChildStart::kBadArguments;
  std::vector<std::string> args;
  for (const auto& w : wargs) args.push_back(WstrToUtf8(w));
  const std::string program = ResolveProgram(args[0]);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Built before fork, where allocating is still allowed.
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  if (extraEnv) {
    envStrings = ChildEnvironment(*extraEnv);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
  }

  ScopedFd nullFd(::open("/dev/null", O_RDWR | O_CLOEXEC));
  ScopedFd outRead, outWrite, reportRead, reportWrite;  // report: errno of a failed exec
  if (!nullFd.valid() || (outputRead && !MakePipe(outRead, outWrite)) || !MakePipe(reportRead, reportWrite))
    return ChildStart::kNoPipe;
  const pid_t parent = getpid();
  const int outFd = outputRead ? outWrite.get() : nullFd.get();

  const pid_t pid = fork();
  if (pid == 0)
    ExecInChild(parent, nullFd.get(), outFd, reportWrite.get(), program.c_str(), argv.data(),
                extraEnv ? envp.data() : nullptr);
  nullFd.reset();
  outWrite.reset();
  reportWrite.reset();
  if (pid < 0) return ChildStart::kNotStarted;
  setpgid(pid, pid);  // also from this side, so a kill right after the start reaches the group
  if (ExecFailed(pid, reportRead.get())) return ChildStart::kNotStarted;

  child.reset();
  child.id = pid;
  child.pid = static_cast<uint32_t>(pid);
  child.reaped = false;
  child.exitStatus = 0;
  if (outputRead) *outputRead = ScopedPipe(outRead.release());
  return ChildStart::kStarted;
}

// Collects the child if it has ended; true when it is (now) reaped.
bool TryReap(ChildProcess& child) {
  if (child.reaped) return true;
  if (!child.valid()) return false;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(static_cast<pid_t>(child.id), &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == static_cast<pid_t>(child.id)) {
    child.reaped = true;
    child.exitStatus = status;
    return true;
  }
  if (r < 0) {
    // Not our child any more: reaped behind our back (SIGCHLD ignored, which
    // makes the system collect children itself). Its exit code is lost, and
    // a lost code must never pass for success: report exit code 1.
    child.reaped = true;
    child.exitStatus = 1 << 8;  // as waitpid reports exit(1)
    return true;
  }
  return false;
}

}  // namespace

void ClosePipeHandle(PipeHandle h) {
  if (h != kInvalidPipe) ::close(static_cast<int>(h));
}

void ChildProcess::reset() {
  if (valid() && !reaped) TryReap(*this);
  id = 0;
  pid = 0;
  reaped = false;
  exitStatus = 0;
}

ChildStart StartHiddenProcess(const std::vector<std::wstring>& argv, ChildProcess& child,
                              ScopedPipe* outputRead, const std::vector<std::wstring>* extraEnv) {
  ChildStart result = ChildStart::kNotStarted;
  RunOnSpawnerThread([&] { result = StartOnThisThread(argv, child, outputRead, extraEnv); });
  return result;
}

bool PeekPipe(PipeHandle h, uint32_t& available) {
  available = 0;
  if (h == kInvalidPipe) return false;
  const int fd = static_cast<int>(h);
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return false;
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0) return false;
  if (n > 0) {
    available = static_cast<uint32_t>(n);
    return true;
  }
  // Readable with nothing in it means end of stream: every writer is gone.
  if (r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) return false;
  return true;
}

int64_t ReadPipe(PipeHandle h, char* buf, size_t len) {
  if (h == kInvalidPipe) return -1;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(h), buf, len);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool TerminateChild(ChildProcess& child) {
  if (!child.valid() || child.reaped) return false;
  const pid_t pid = static_cast<pid_t>(child.id);
  if (kill(-pid, SIGKILL) == 0) return true;
  return kill(pid, SIGKILL) == 0;  // the group could not be formed
}

bool WaitChild(ChildProcess& child, unsigned timeoutMs) {
  if (!child.valid()) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (TryReap(child)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool ChildExitCode(ChildProcess& child, uint32_t& code) {
  if (!TryReap(child)) return false;
  const int st = child.exitStatus;
  if (WIFEXITED(st))
    code = static_cast<uint32_t>(WEXITSTATUS(st));
  else if (WIFSIGNALED(st))
    code = 128u + static_cast<uint32_t>(WTERMSIG(st));
  else
    code = 0;
  return true;
}

bool CreateKillOnCloseJob() { return false; }

void CloseKillOnCloseJob() {}

bool AssignChildToJob(const ChildProcess&) { return false; }
