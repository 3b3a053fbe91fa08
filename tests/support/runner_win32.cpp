// The runner on Windows (and under Wine): CreateProcess with pipes for both
// output streams, the exit status as Windows reports it.
#include "support/runner.h"

#include <windows.h>

#include <cstring>

#include <thread>

namespace testkit {

namespace {

// One argument as the C runtime's parser reads it back (the rules of
// CommandLineToArgvW): quoted when it is empty or holds blanks or quotes,
// backslashes doubled only where they precede a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
    else quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// Collects everything a pipe delivers until its writer closes it.
void Drain(HANDLE pipe, std::string& into) {
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) into.append(buffer, got);
}

// The environment block of this process with the sandbox's variables put in.
std::string EnvironmentBlock(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> merged;
  char* block = ::GetEnvironmentStringsA();
  for (const char* entry = block; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
    const std::string text = entry;
    const auto eq = text.find('=', 1);  // names such as "=C:" begin with '='
    if (eq != std::string::npos) merged[text.substr(0, eq)] = text.substr(eq + 1);
  }
  ::FreeEnvironmentStringsA(block);
  for (const auto& kv : extra) merged[kv.first] = kv.second;
  std::string out;
  for (const auto& kv : merged) out += kv.first + "=" + kv.second + '\0';
  return out + '\0';
}

}  // namespace

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string BinaryName() {
  std::string name = SHAREMAPPER_BINARY;
  // A cross build names the program by its Linux path; under Wine it gets
  // the DOS name Wine gives that path.
  if (!name.empty() && name[0] == '/') {
    using ToDos = WCHAR*(CDECL*)(LPCSTR);
    const auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos != nullptr) {
      WCHAR* dos = toDos(name.c_str());
      if (dos != nullptr) {
        char narrow[MAX_PATH * 4] = {};
        ::WideCharToMultiByte(CP_ACP, 0, dos, -1, narrow, sizeof narrow, nullptr, nullptr);
        ::HeapFree(::GetProcessHeap(), 0, dos);
        name = narrow;
      }
    }
  }
  return name;
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
  char old[32768];
  const DWORD length = ::GetEnvironmentVariableA(name.c_str(), old, sizeof old);
  had_ = length > 0 && length < sizeof old;
  if (had_) old_.assign(old, length);
  ::SetEnvironmentVariableA(name.c_str(), value);
}

ScopedEnv::~ScopedEnv() { ::SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr); }

Run Sandbox::Sharemapper(const std::vector<std::string>& args) const { return Command(BinaryName(), args); }

Run Sandbox::SharemapperIn(const std::string& dir, const std::vector<std::string>& args) const {
  return CommandIn(dir, BinaryName(), args);
}

Run Sandbox::Command(const std::string& program, const std::vector<std::string>& args) const {
  return CommandIn(cwd, program, args);
}

Run Sandbox::CommandIn(const std::string& dir, const std::string& program, const std::vector<std::string>& args) const {
  Run run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return run;
  if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    ::CloseHandle(outRead);
    ::CloseHandle(outWrite);
    return run;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  const HANDLE nul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);

  std::string commandLine = QuoteArgument(program);
  for (const std::string& arg : args) commandLine += " " + QuoteArgument(arg);
  std::string environment = EnvironmentBlock(env);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        &environment[0], dir.c_str(), &startup, &process);
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
  if (started) {
    std::thread errReader(Drain, errRead, std::ref(run.err));
    Drain(outRead, run.out);
    errReader.join();
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    run.status = static_cast<int>(code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(outRead);
  ::CloseHandle(errRead);
  return run;
}

}  // namespace testkit
