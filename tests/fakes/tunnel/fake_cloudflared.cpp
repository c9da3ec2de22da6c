// Test double of the tunnel client: records how it was started, then follows
// a script. Folder: $VH_FAKE_TUNNEL_DIR, else its own. Records there
// "cmdline.txt" (GetCommandLineW on Windows, argv joined by blanks elsewhere)
// and appends its pid to "pids.txt". Script "script.txt", one command a line:
// sleep MS | print TEXT (+LF) | printcr TEXT (+CR LF) | eprint TEXT (stderr) |
// pad N M TEXT (N 'x', TEXT, M 'y', LF) | exit CODE | waitfor NAME (a file in
// the folder) | hang (the default). It ends by itself after kMaxLifetimeMs.
#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/text.h"

namespace {

constexpr long kMaxLifetimeMs = 180000;

void SleepMs(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void Out(const std::string& bytes, bool toStderr = false) {
#ifdef _WIN32
  DWORD written = 0;
  WriteFile(GetStdHandle(toStderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
#else
  size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = write(toStderr ? 2 : 1, bytes.data() + off, bytes.size() - off);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
#endif
}

std::string OwnFolder() {
#ifdef _WIN32
  wchar_t buf[1024] = {};
  const DWORD n = GetModuleFileNameW(nullptr, buf, 1024);
  std::wstring p(buf, n);
  const size_t slash = p.find_last_of(L"\\/");
  return WstrToUtf8(slash == std::wstring::npos ? L"." : p.substr(0, slash));
#else
  char buf[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string p(buf, n > 0 ? static_cast<size_t>(n) : 0);
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
#endif
}

std::string Folder() {
  const char* dir = std::getenv("VH_FAKE_TUNNEL_DIR");
  return dir && *dir ? dir : OwnFolder();
}

void Record(const std::string& folder, int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  const std::string cmd = WstrToUtf8(GetCommandLineW());
  const unsigned long pid = GetCurrentProcessId();
#else
  std::string cmd;
  for (int i = 0; i < argc; ++i) {
    if (i) cmd += ' ';
    cmd += argv[i];
  }
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  std::ofstream(folder + "/cmdline.txt", std::ios::binary | std::ios::trunc) << cmd;
  std::ofstream(folder + "/pids.txt", std::ios::binary | std::ios::app) << pid << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  auto alive = [&] { return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kMaxLifetimeMs); };
  const std::string folder = Folder();
  Record(folder, argc, argv);
  std::ifstream script(folder + "/script.txt", std::ios::binary);
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t blank = line.find(' ');
    const std::string cmd = line.substr(0, blank);
    const std::string arg = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (cmd == "sleep") SleepMs(std::atol(arg.c_str()));
    if (cmd == "print") Out(arg + "\n");
    if (cmd == "printcr") Out(arg + "\r\n");
    if (cmd == "eprint") Out(arg + "\n", true);
    if (cmd == "pad") {
      std::istringstream in(arg);
      size_t before = 0, after = 0;
      std::string text;
      in >> before >> after;
      if (in.get() == ' ') std::getline(in, text);
      Out(std::string(before, 'x') + text + std::string(after, 'y') + "\n");
    }
    if (cmd == "waitfor") {
      while (!std::ifstream(folder + "/" + arg) && alive()) SleepMs(50);
    }
    if (cmd == "exit") return std::atoi(arg.c_str());
    if (cmd == "hang") break;
  }
  while (alive()) SleepMs(100);
  return 0;
}
