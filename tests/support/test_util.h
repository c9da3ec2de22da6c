// A scoped environment variable and a bounded wait for a condition.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include "platform/text.h"
#endif
// Sets (an empty value: removes) a variable of this process's environment, children's too, for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value)
      : name_(name), old_(std::getenv(name) ? std::getenv(name) : "") { Set(value); }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
 private:
  void Set(const std::string& value) {
#ifdef _WIN32
    SetEnvironmentVariableW(Utf8ToWstr(name_).c_str(), value.empty() ? nullptr : Utf8ToWstr(value).c_str());
    _putenv_s(name_.c_str(), value.c_str());
#else
    if (value.empty()) unsetenv(name_.c_str()); else setenv(name_.c_str(), value.c_str(), 1);
#endif
  }
  std::string name_, old_;
};

// Polls pred every stepMs for up to timeoutMs; whether it became true.
inline bool WaitUntil(const std::function<bool()>& pred, unsigned timeoutMs = 5000, unsigned stepMs = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (; !pred(); std::this_thread::sleep_for(std::chrono::milliseconds(stepMs)))
    if (std::chrono::steady_clock::now() >= deadline) return false;
  return true;
}
