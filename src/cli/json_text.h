// Pieces of the JSON the commands print with --json: one object per line,
// built as text.
#pragma once

#include <string>
#include <vector>

namespace tolv::cli {

// text as a JSON string literal: quotes and backslashes escaped, control
// characters as \u00XX; other bytes (UTF-8 included) as they are.
std::string JsonString(const std::string& text);

// A JSON array of the strings.
std::string JsonList(const std::vector<std::string>& items);

// "true" or "false".
const char* JsonBool(bool value);

}  // namespace tolv::cli
