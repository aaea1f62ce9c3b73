// Pieces of the JSON the commands print with --json: one object per line,
// built as text; and file names made safe for a line of plain output.
#pragma once

#include <string>
#include <vector>

namespace tolv {

// text as a JSON string literal: quotes and backslashes escaped, control
// characters and DEL as \u00XX, valid UTF-8 as it is. A byte that is not
// part of valid UTF-8 (a file name in another encoding) becomes \ufffd, the
// replacement character, so that the output is always valid JSON.
std::string JsonString(const std::string& text);

// A JSON array of the strings.
std::string JsonList(const std::vector<std::string>& items);

// "true" or "false".
const char* JsonBool(bool value);

// A file name for one line of plain output: as it is when it holds no
// control character; otherwise in double quotes, with newline, return and
// tab as \n, \r, \t, quotes and backslashes escaped and every other
// control character as \xNN, so that a name cannot break the line or forge
// another.
std::string PrintableName(const std::string& name);

}  // namespace tolv
