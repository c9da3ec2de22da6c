#include "term_os.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/message.h"

namespace {

std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_waiterEnding{false};
std::thread g_signalWaiter;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void SignalWaiterProc(HWND hwnd, UINT wakeMsg, void (*onStop)()) {
  const sigset_t set = StopSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  if (g_waiterEnding.load()) return;  // woken by EndStopSignalWaiter
  g_stopRequested.store(true);
  if (onStop) onStop();
  PostWindowMessage(hwnd, wakeMsg, static_cast<WPARAM>(sig), 0);
}

}  // namespace

void RestoreDefaultChildSignal() { ::signal(SIGCHLD, SIG_DFL); }

bool StartStopSignalWaiter(HWND hwnd, UINT wakeMsg, void (*onStop)()) {
  const sigset_t set = StopSignals();
  sigset_t old;
  if (pthread_sigmask(SIG_BLOCK, &set, &old) != 0) return false;
  try {
    g_signalWaiter = std::thread(SignalWaiterProc, hwnd, wakeMsg, onStop);
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return false;
  }
  return true;
}

bool StopRequested() { return g_stopRequested.load(); }

void EndStopSignalWaiter() {
  if (!g_signalWaiter.joinable()) return;
  g_waiterEnding.store(true);
  // The signal is blocked everywhere, so it stays pending for the waiter
  // alone; if the waiter already returned this is harmless.
  if (!g_stopRequested.load()) pthread_kill(g_signalWaiter.native_handle(), SIGTERM);
  g_signalWaiter.join();
}

bool StdoutIsColourTerminal() {
  if (!isatty(STDOUT_FILENO)) return false;
  const char* term = std::getenv("TERM");
  return term && *term && std::strcmp(term, "dumb") != 0;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

bool IsSpecialFile(const std::string& path, SkipReason& why) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (S_ISFIFO(st.st_mode)) why = SkipReason::kFifo;
  else if (S_ISSOCK(st.st_mode)) why = SkipReason::kSocket;
  else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) why = SkipReason::kDevice;
  else return false;
  return true;
}
