// The platform's part of the test helpers, on Windows.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <stdexcept>

#include "common/windows_text.h"
#include "test_support.h"

namespace tolv::test {
namespace {

// One argument for CreateProcess's command line, quoted so that the
// program's start-up code reads it back unchanged: backslashes before a
// quote (or the closing quote) are doubled, quotes escaped.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// A file for a child's standard output or error.
HANDLE CreateInheritable(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The null device, for a child's standard input.
HANDLE CreateInheritableInput() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The name of an environment entry "NAME=value" (a name may itself begin
// with "=", as the system's "=C:=C:\dir" entries do).
std::wstring EntryName(const std::wstring& entry) {
  const size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals == std::wstring::npos ? entry.size() : equals);
}

// The environment block of CreateProcessW (UTF-16 entries, each ended by a
// zero, and one more zero): this process's entries with those of environment
// set on top. Names are compared without regard to case, as Windows does.
std::wstring EnvironmentBlock(const std::vector<std::string>& environment) {
  std::vector<std::wstring> entries;
  for (const std::string& entry : environment) entries.push_back(Utf8ToWide(entry));
  const size_t ownCount = entries.size();
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* entry = current; entry && *entry; entry += std::wcslen(entry) + 1) {
    const std::wstring name = EntryName(entry);
    const bool replaced = std::any_of(
        entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(ownCount),
        [&](const std::wstring& own) { return _wcsicmp(EntryName(own).c_str(), name.c_str()) == 0; });
    if (!replaced) entries.push_back(entry);
  }
  if (current) FreeEnvironmentStringsW(current);
  std::wstring block;
  for (const std::wstring& entry : entries) block += entry + L'\0';
  return block + L'\0';
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = L"tolv-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(counter++) + L"-" + std::to_wstring(GetTickCount64() % 100000);
    const std::filesystem::path dir = base / name;
    if (CreateDirectoryW(dir.c_str(), nullptr)) {
      path_ = WideToUtf8(dir.wstring());
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

int RunCommand(const std::string& command, std::string* output) {
  // _popen runs the line through cmd.exe /c.
  FILE* pipe = _wpopen(Utf8ToWide(command + " 2>&1").c_str(), L"rb");
  if (!pipe) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  const int status = _pclose(pipe);
  if (output) *output = text;
  return status;
}

int RunProgramInto(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                   const std::vector<std::string>& environment, const std::string& outPath,
                   const std::string& errPath) {
  std::wstring line = QuoteArgument(Utf8ToWide(program));
  for (const std::string& arg : args) line += L" " + QuoteArgument(Utf8ToWide(arg));
  const HANDLE out = CreateInheritable(outPath);
  const HANDLE err = CreateInheritable(errPath);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  // Standard input is no console: a program that would ask a question must
  // not wait for an answer.
  const HANDLE in = CreateInheritableInput();
  start.hStdInput = in;
  start.hStdOutput = out;
  start.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring dir = Utf8ToWide(cwd);
  std::wstring block = EnvironmentBlock(environment);
  // Without an application name, CreateProcess finds "tolv" as "tolv.exe".
  // Wine's process start fails now and then with ERROR_INTERNAL_ERROR when
  // the machine is very busy; that one is tried again.
  BOOL started = FALSE;
  DWORD error = GetLastError();  // of the handles, when one could not be made
  for (int attempt = 0; attempt < 3 && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE;
       ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                             block.data(), dir.empty() ? nullptr : dir.c_str(), &start, &process);
    error = GetLastError();
    if (started || error != ERROR_INTERNAL_ERROR) break;
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  if (!started) {
    std::fprintf(stderr, "cannot run %s: %s\n", program.c_str(), WindowsErrorText(error).c_str());
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
  const HANDLE held = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  active_ = held != INVALID_HANDLE_VALUE;
  handle_ = active_ ? held : nullptr;
}

UnreadableFile::~UnreadableFile() {
  if (active_) CloseHandle(static_cast<HANDLE>(handle_));
}

std::string SystemProgramPath() {
  wchar_t dir[MAX_PATH];
  const UINT length = GetSystemDirectoryW(dir, MAX_PATH);
  return WideToUtf8(std::wstring(dir, length)) + "\\cmd.exe";
}

std::string ProgramSuffix() { return ".exe"; }

std::string NativePath(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '/', '\\');
  return native;
}

// Through the C runtime, which keeps its own copy of the environment (for
// getenv) and passes every change on to the system's (for
// GetEnvironmentVariableW and child processes).
ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value) : name_(name) {
  if (const wchar_t* old = _wgetenv(Utf8ToWide(name).c_str())) previous_ = WideToUtf8(old);
  _wputenv_s(Utf8ToWide(name).c_str(), Utf8ToWide(value).c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
  _wputenv_s(Utf8ToWide(name_).c_str(), Utf8ToWide(previous_.value_or("")).c_str());
}

}  // namespace tolv::test
