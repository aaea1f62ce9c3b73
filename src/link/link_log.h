// The transfer log and the raw dump of the link.
//
// The log is an 8-bit text file of lines ending in CR LF, only ever appended
// to, opened and closed for every line. Step lines start with the operation's
// name padded to 18 characters and ": ". The raw dump "CommDump.bin" lies in
// the log's directory, is emptied when logging starts and receives the bytes
// that pass over the wire in both directions, without separators.
#pragma once

#include <cstdint>
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

  // A non-empty name starts logging into that file (closing an earlier log
  // first with its closing lines) and empties the dump beside it; an empty
  // name stops logging (closing lines only when it was on). Throws FileError
  // when the log or the dump cannot be written.
  void SetLogFile(const std::string& fileName);

  // Appends line and CR LF when logging is on; nothing otherwise. Throws
  // FileError when the log cannot be written.
  void Log(std::string_view line);

  // Appends byteCount bytes to the dump when logging is on. Throws FileError.
  void Dump(const uint8_t* data, int32_t byteCount);

  bool enabled() const { return !logFileName_.empty(); }
  const std::string& logFileName() const { return logFileName_; }
  const std::string& dumpFileName() const { return dumpFileName_; }

 private:
  std::function<std::string()> nowText_;
  std::string logFileName_;
  std::string dumpFileName_;
};

}  // namespace tolv
