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

// Room for many lines of the log and many packets of the dump between two
// writes to the system.
constexpr size_t kStreamBufferBytes = 64 * 1024;

[[noreturn]] void ThrowWriteError(const std::string& what, const std::string& fileName, int error) {
  throw FileError("Cannot write the " + what + " \"" + fileName + "\": " + std::strerror(error));
}

// Opens fileName in mode ("ab": appending, created when missing; "wb":
// emptied), fully buffered.
std::FILE* OpenStream(const std::string& what, const std::string& fileName, const char* mode) {
  std::FILE* file = OpenFileStream(fileName, mode);
  if (!file) ThrowWriteError(what, fileName, errno);
  std::setvbuf(file, nullptr, _IOFBF, kStreamBufferBytes);
  return file;
}

void Write(const std::string& what, const std::string& fileName, std::FILE* file, const void* data,
           size_t byteCount) {
  if (byteCount != 0 && std::fwrite(data, 1, byteCount, file) != byteCount)
    ThrowWriteError(what, fileName, errno);
}

void Flush(const std::string& what, const std::string& fileName, std::FILE* file) {
  if (std::fflush(file) != 0) ThrowWriteError(what, fileName, errno);
}

// Closes file (flushing its buffer) and returns the error number, 0 when it
// was written out.
int Close(std::FILE*& file) {
  if (!file) return 0;
  const bool closed = std::fclose(file) == 0;
  const int error = errno;
  file = nullptr;
  return closed ? 0 : (error != 0 ? error : EIO);
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

LinkLog::~LinkLog() {
  Close(dumpFile_);
  Close(logFile_);
}

// Both files are closed, also when the first fails; the first failure is
// thrown.
void LinkLog::CloseFiles() {
  const int dumpError = Close(dumpFile_);
  const int logError = Close(logFile_);
  if (dumpError != 0) ThrowWriteError("raw dump", dumpFileName_, dumpError);
  if (logError != 0) ThrowWriteError("transfer log", logFileName_, logError);
}

void LinkLog::SetLogFile(const std::string& fileName) {
  if (enabled()) {
    try {
      Log("Log file closed   @ " + nowText_());
      Log(std::string(80, '-'));
      CloseFiles();
    } catch (const FileError&) {
      Close(dumpFile_);
      Close(logFile_);
      logFileName_.clear();
      dumpFileName_.clear();
      throw;
    }
  }
  logFileName_ = fileName;
  dumpFileName_.clear();  // the dump starts only once the log has its opening line
  if (fileName.empty()) return;
  try {
    logFile_ = OpenStream("transfer log", fileName, "ab");
    Log("Log file opened   @ " + nowText_());
    const std::string dumpName = DirectoryOf(fileName) + kDumpFileName;
    dumpFile_ = OpenStream("raw dump", dumpName, "wb");
    dumpFileName_ = dumpName;
  } catch (const FileError&) {
    // A log that cannot be started is off: the link's later steps must not
    // fail one by one on it.
    Close(dumpFile_);
    Close(logFile_);
    logFileName_.clear();
    throw;
  }
}

void LinkLog::Log(std::string_view line) {
  if (!enabled() || !logFile_) return;
  // The bytes of the wire that led to this line are on disk before it.
  if (dumpFile_) Flush("raw dump", dumpFileName_, dumpFile_);
  Write("transfer log", logFileName_, logFile_, line.data(), line.size());
  Write("transfer log", logFileName_, logFile_, "\r\n", 2);
  Flush("transfer log", logFileName_, logFile_);
}

void LinkLog::Dump(const uint8_t* data, int32_t byteCount) {
  if (!dumpFile_ || byteCount <= 0) return;
  Write("raw dump", dumpFileName_, dumpFile_, data, static_cast<size_t>(byteCount));
}

}  // namespace tolv
