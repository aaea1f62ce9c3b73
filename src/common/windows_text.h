// Text conversions at the edge of the Windows API, which speaks UTF-16,
// while the program keeps every text, file names included, in UTF-8.
#pragma once

#include <string>

namespace tolv {

// UTF-8 to UTF-16. Bytes that are not valid UTF-8 become U+FFFD, so a name
// that cannot exist is simply not found.
std::wstring Utf8ToWide(const std::string& text);

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string WideToUtf8(const std::wstring& text);

// The system's text for a Windows error code (GetLastError), without the
// line break it ends with: "The system cannot find the file specified.".
std::string WindowsErrorText(unsigned long error);

}  // namespace tolv
