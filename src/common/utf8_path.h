// std::filesystem paths from and to UTF-8, the form in which the program
// keeps every file name. A path made from a plain std::string is read in the
// system's code page on Windows, which mangles every name beyond it; these
// go through std::u8string instead, the same on every system.
#pragma once

#include <filesystem>
#include <string>

namespace tolv {

// The path that the UTF-8 text names.
std::filesystem::path PathFromUtf8(const std::string& text);

// The path's name as UTF-8 text, in the system's own separators.
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace tolv
