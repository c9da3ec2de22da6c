#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/command_line.h"

namespace {
using OwnedHandle = Owned<HANDLE, static_cast<HANDLE>(nullptr), CloseHandle>;

OwnedHandle g_hJob;  // the kill-on-job-close job; none until CreateKillOnCloseJob

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
intptr_t FromHandle(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

// The variable name of an environment entry; the drive entries ("=C:=C:\\")
// begin with '=', which is part of their name.
std::wstring EnvName(const std::wstring& entry) { return entry.substr(0, entry.find(L'=', 1)); }

bool EnvNameLess(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(EnvName(a).c_str(), -1, EnvName(b).c_str(), -1, TRUE) == CSTR_LESS_THAN;
}

// The program's environment with `extra` set on top, as a CreateProcessW
// block: NUL-ended entries sorted by name without regard to case, as Windows
// keeps them, followed by one more NUL.
std::vector<wchar_t> EnvironmentBlock(const std::vector<std::wstring>& extra) {
  std::vector<std::wstring> entries;
  if (wchar_t* env = GetEnvironmentStringsW()) {
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsW(env);
  }
  for (const auto& x : extra) {
    const std::wstring name = EnvName(x);
    std::erase_if(entries, [&](const std::wstring& e) {
      return CompareStringOrdinal(EnvName(e).c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
    entries.push_back(x);
  }
  std::stable_sort(entries.begin(), entries.end(), EnvNameLess);
  std::vector<wchar_t> block;
  for (const auto& e : entries) {
    block.insert(block.end(), e.begin(), e.end());
    block.push_back(L'\0');
  }
  if (entries.empty()) block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// "X:\..." or "\\server\...": a path that names one file without any search.
bool IsFullPath(const std::wstring& p) {
  if (p.size() > 2 && p[1] == L':' && (p[2] == L'\\' || p[2] == L'/')) return true;
  return p.size() > 2 && p[0] == L'\\' && p[1] == L'\\';
}
}  // namespace

void ClosePipeHandle(PipeHandle h) {
  if (h != kInvalidPipe && h != 0) CloseHandle(AsHandle(h));
}

void ChildProcess::reset() {
  if (id != 0) CloseHandle(AsHandle(id));
  id = 0;
  pid = 0;
  reaped = false;
  exitStatus = 0;
}

ChildStart StartHiddenProcess(const std::vector<std::wstring>& argv, ChildProcess& child,
                              ScopedPipe* outputRead, const std::vector<std::wstring>* extraEnv) {
  const std::wstring commandLine = JoinCommandLine(argv);
  if (commandLine.empty() || !IsFullPath(argv[0])) return ChildStart::kBadArguments;
  OwnedHandle readEnd;
  OwnedHandle writeEnd;
  if (outputRead) {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = TRUE;
    if (!CreatePipe(readEnd.out(), writeEnd.out(), &sa, 0)) return ChildStart::kNoPipe;
    // Only the write end passes to the child.
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  }

  // CreateProcessW may write into the command line: give it a private copy.
  std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back(L'\0');

  STARTUPINFOEXW six{};
  STARTUPINFOW& si = six.StartupInfo;
  si.cb = sizeof(STARTUPINFOW);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  DWORD flags = CREATE_NO_WINDOW;
  // Inheritance on would hand the child every inheritable handle of the
  // program (sockets are inheritable by default): a listening socket held by
  // the client would keep the port and swallow connections after a re-bind.
  // The attribute list limits what passes to the pipe's write end.
  std::vector<char> attrBuf;
  HANDLE inherited = writeEnd.get();  // the attribute list points at this variable
  if (outputRead) {
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = inherited;
    si.hStdError = inherited;
    SIZE_T attrSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
    if (attrSize > 0) {
      attrBuf.resize(attrSize);
      auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuf.data());
      if (InitializeProcThreadAttributeList(list, 1, 0, &attrSize)) {
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                      sizeof inherited, nullptr, nullptr)) {
          six.lpAttributeList = list;
          si.cb = sizeof six;
          flags |= EXTENDED_STARTUPINFO_PRESENT;
        } else {
          DeleteProcThreadAttributeList(list);
        }
      }
    }
  }
  std::vector<wchar_t> env;
  if (extraEnv) {
    env = EnvironmentBlock(*extraEnv);
    flags |= CREATE_UNICODE_ENVIRONMENT;
  }
  PROCESS_INFORMATION pi{};
  const BOOL ok = CreateProcessW(argv[0].c_str(), cmd.data(), nullptr, nullptr, outputRead ? TRUE : FALSE,
                                 flags, extraEnv ? env.data() : nullptr, nullptr, &si, &pi);
  if (six.lpAttributeList) DeleteProcThreadAttributeList(six.lpAttributeList);
  // The child has its own copy of the write end now; closing ours lets the
  // pipe break when the child ends.
  writeEnd.reset();
  if (!ok) return ChildStart::kNotStarted;
  OwnedHandle thread(pi.hThread);  // not needed: closed on return
  child.reset();
  child.id = FromHandle(pi.hProcess);
  child.pid = pi.dwProcessId;
  if (outputRead) *outputRead = ScopedPipe(FromHandle(readEnd.release()));
  return ChildStart::kStarted;
}

bool PeekPipe(PipeHandle h, uint32_t& available) {
  available = 0;
  if (h == kInvalidPipe) return false;
  DWORD avail = 0;
  if (!PeekNamedPipe(AsHandle(h), nullptr, 0, nullptr, &avail, nullptr)) return false;
  available = avail;
  return true;
}

int64_t ReadPipe(PipeHandle h, char* buf, size_t len) {
  if (h == kInvalidPipe) return -1;
  DWORD got = 0;
  const DWORD want = len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(len);
  if (!ReadFile(AsHandle(h), buf, want, &got, nullptr)) {
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return got;
}

bool TerminateChild(ChildProcess& child) {
  if (!child.valid()) return false;
  return TerminateProcess(AsHandle(child.id), 0) != FALSE;
}

bool WaitChild(ChildProcess& child, unsigned timeoutMs) {
  if (!child.valid()) return false;
  return WaitForSingleObject(AsHandle(child.id), timeoutMs) == WAIT_OBJECT_0;
}

bool ChildExitCode(ChildProcess& child, uint32_t& code) {
  if (!child.valid()) return false;
  if (WaitForSingleObject(AsHandle(child.id), 0) != WAIT_OBJECT_0) return false;
  DWORD c = 0;
  if (!GetExitCodeProcess(AsHandle(child.id), &c)) return false;
  code = c;
  return true;
}

bool CreateKillOnCloseJob() {
  if (g_hJob.valid()) return true;
  OwnedHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) return false;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;  // 0x2000
  SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &info, sizeof info);
  g_hJob = std::move(job);
  return true;
}

void CloseKillOnCloseJob() { g_hJob.reset(); }

bool AssignChildToJob(const ChildProcess& child) {
  if (!g_hJob.valid() || !child.valid()) return false;
  return AssignProcessToJobObject(g_hJob.get(), AsHandle(child.id)) != FALSE;
}
