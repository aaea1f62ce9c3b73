#include "link/link_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

#include "common/file_io.h"
#include "common/platform.h"

namespace tolv {

namespace {

constexpr size_t kStepNameWidth = 18;
constexpr const char* kDumpFileName = "CommDump.bin";

[[noreturn]] void ThrowWriteError(const std::string& what, const std::string& fileName, int error) {
  throw FileError("Cannot write the " + what + " \"" + fileName + "\": " + std::strerror(error));
}

// Opens fileName for appending (creating it when missing), writes the bytes
// and closes it again, so nothing is held open between lines.
void AppendToFile(const std::string& what, const std::string& fileName, const void* data, size_t byteCount) {
  std::FILE* file = OpenFileStream(fileName, "ab");
  if (!file) ThrowWriteError(what, fileName, errno);
  const size_t written = byteCount ? std::fwrite(data, 1, byteCount, file) : 0;
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (written != byteCount) ThrowWriteError(what, fileName, writeError);
  if (!closed) ThrowWriteError(what, fileName, errno);
}

void CreateEmptyFile(const std::string& what, const std::string& fileName) {
  std::FILE* file = OpenFileStream(fileName, "wb");
  if (!file) ThrowWriteError(what, fileName, errno);
  if (std::fclose(file) != 0) ThrowWriteError(what, fileName, errno);
}

}  // namespace

std::string LinkLog_StepLine(std::string_view operation, std::string_view message) {
  std::string line(operation);
  if (line.size() < kStepNameWidth) line.append(kStepNameWidth - line.size(), ' ');
  line += ": ";
  line += message;
  return line;
}

std::string LinkLog_HexDump(const uint8_t* data, int32_t byteCount) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (byteCount <= 0) return text;
  text.reserve(static_cast<size_t>(byteCount) * 3);
  for (int32_t i = 0; i < byteCount; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
    text += ' ';
  }
  return text;
}

std::string LinkLog_NowText() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalTimeOf(now);
  std::ostringstream text;
  try {
    text.imbue(std::locale(""));
  } catch (const std::runtime_error&) {
    // The environment names a locale this system does not have: the C one.
  }
  text << std::put_time(&local, "%x %X");
  return text.str();
}

LinkLog::LinkLog(std::function<std::string()> nowText)
    : nowText_(nowText ? std::move(nowText) : std::function<std::string()>(LinkLog_NowText)) {}

void LinkLog::SetLogFile(const std::string& fileName) {
  if (enabled()) {
    Log("Log file closed   @ " + nowText_());
    Log(std::string(80, '-'));
  }
  logFileName_ = fileName;
  dumpFileName_.clear();  // the dump starts only once the log has its opening line
  if (fileName.empty()) return;
  try {
    Log("Log file opened   @ " + nowText_());
    const std::string dumpName = DirectoryOf(fileName) + kDumpFileName;
    CreateEmptyFile("raw dump", dumpName);
    dumpFileName_ = dumpName;
  } catch (const FileError&) {
    // A log that cannot be started is off: the link's later steps must not
    // fail one by one on it.
    logFileName_.clear();
    throw;
  }
}

void LinkLog::Log(std::string_view line) {
  if (!enabled()) return;
  std::string text(line);
  text += "\r\n";
  AppendToFile("transfer log", logFileName_, text.data(), text.size());
}

void LinkLog::Dump(const uint8_t* data, int32_t byteCount) {
  if (dumpFileName_.empty() || byteCount <= 0) return;
  AppendToFile("raw dump", dumpFileName_, data, static_cast<size_t>(byteCount));
}

}  // namespace tolv
