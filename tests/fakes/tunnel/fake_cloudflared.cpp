// The tunnel client's double (see docs/development.md); it ends by itself after 180 s. Its script's
// commands: sleep MS | print TEXT | printcr TEXT (CR LF) | eprint TEXT (stderr) | exit CODE | waitfor FILE | hang |
// args (each argument after the program's name on a line of its own, in <>, as the system split them).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/module.h"
#include "platform/text.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY), _setmode(_fileno(stderr), _O_BINARY);  // "\n" stays one byte
  const std::string cmd = WstrToUtf8(GetCommandLineW());
  const unsigned long pid = GetCurrentProcessId();
#else
  std::string cmd = argv[0];
  for (int i = 1; i < argc; ++i) cmd += std::string(" ") + argv[i];
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  std::string args;
#ifdef _WIN32
  int n = 0;
  if (LPWSTR* w = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = 1; i < n; ++i) args += "<" + WstrToUtf8(w[i]) + ">\n";
    LocalFree(w);
  }
#else
  for (int i = 1; i < argc; ++i) args += std::string("<") + argv[i] + ">\n";
#endif
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  auto sleepMs = [](long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  const char* dir = std::getenv("VH_FAKE_TUNNEL_DIR");
  const std::string folder = dir && *dir ? dir : WstrToUtf8(ProgramFolder());
  std::ofstream(folder + "/cmdline.txt", std::ios::binary | std::ios::trunc) << cmd;
  std::ofstream(folder + "/pids.txt", std::ios::binary | std::ios::app) << pid << "\n";
  std::ifstream script(folder + "/script.txt", std::ios::binary);
  for (std::string line; std::getline(script, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t blank = line.find(' ');
    const std::string op = line.substr(0, blank), arg = blank == std::string::npos ? "" : line.substr(blank + 1);
    FILE* to = op == "eprint" ? stderr : stdout;
    if (op == "print" || op == "printcr" || op == "eprint")
      std::fputs((arg + (op == "printcr" ? "\r\n" : "\n")).c_str(), to), std::fflush(to);
    if (op == "args") std::fputs(args.c_str(), stdout), std::fflush(stdout);
    if (op == "sleep") sleepMs(std::atol(arg.c_str()));
    while (op == "waitfor" && !std::ifstream(folder + "/" + arg) && std::chrono::steady_clock::now() < end)
      sleepMs(50);
    if (op == "exit") return std::atoi(arg.c_str());
    if (op == "hang") break;
  }
  while (std::chrono::steady_clock::now() < end) sleepMs(100);
  return 0;
}
