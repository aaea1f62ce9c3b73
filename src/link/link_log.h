// The transfer log and the raw dump of the link.
//
// The log is an 8-bit text file of lines ending in CR LF, only ever appended
// to. Step lines start with the operation's name padded to 18 characters and
// ": ". The raw dump "CommDump.bin" lies in the log's directory, is emptied
// when logging starts and receives the bytes that pass over the wire in both
// directions, without separators.
//
// Both files stay open while logging is on (opening a file for every byte of
// a serial line costs more than the line itself) and are written through a
// buffer: the log is flushed at the end of every line, the dump before every
// line of the log and when logging stops, so a crash loses nothing that the
// log shows. Other programs may read both files while they are open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace tolv {

// "name              : message": name padded with spaces to 18 characters.
std::string LinkLog_StepLine(std::string_view operation, std::string_view message);

// Every byte as two upper-case hexadecimal digits and a space ("54 6F ").
std::string LinkLog_HexDump(const uint8_t* data, int32_t byteCount);

// The current local date and time in the user's short date and time format
// (the environment's locale, "%x %X"; the C locale when it has none).
std::string LinkLog_NowText();

class LinkLog {
 public:
  // nowText gives the date and time of the opening and closing lines; the
  // default is LinkLog_NowText.
  explicit LinkLog(std::function<std::string()> nowText = {});
  // Closes the files (with their buffers flushed) without the closing lines.
  ~LinkLog();
  LinkLog(const LinkLog&) = delete;
  LinkLog& operator=(const LinkLog&) = delete;

  // A non-empty name starts logging into that file (closing an earlier log
  // first with its closing lines) and empties the dump beside it; an empty
  // name stops logging (closing lines only when it was on). Throws FileError
  // when the log or the dump cannot be written.
  void SetLogFile(const std::string& fileName);

  // Appends line and CR LF when logging is on, after the dump's buffered
  // bytes; nothing otherwise. Both are on disk when it returns. Throws
  // FileError when the log or the dump cannot be written.
  void Log(std::string_view line);

  // Appends byteCount bytes to the dump's buffer when logging is on (written
  // out when the buffer fills, at the next log line and when logging stops).
  // Throws FileError.
  void Dump(const uint8_t* data, int32_t byteCount);

  bool enabled() const { return !logFileName_.empty(); }
  const std::string& logFileName() const { return logFileName_; }
  const std::string& dumpFileName() const { return dumpFileName_; }

 private:
  std::function<std::string()> nowText_;
  std::string logFileName_;
  std::string dumpFileName_;
  std::FILE* logFile_ = nullptr;
  std::FILE* dumpFile_ = nullptr;

  void CloseFiles();
};

}  // namespace tolv
