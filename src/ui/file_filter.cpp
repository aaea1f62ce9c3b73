// Filters are written down for a file system that matches names without
// regard to case and whose wildcards know only "*" and "?". The toolkit's
// dialog here matches with case and reads "[...]" as a character set, so each
// pattern is rewritten to select the very same files.
#include <cctype>
#include <string>
#include <vector>

#include "ui/file_filter.h"

namespace tolv {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t end; (end = text.find(separator, begin)) != std::string::npos; begin = end + 1)
    parts.push_back(text.substr(begin, end - begin));
  parts.push_back(text.substr(begin));
  return parts;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One pattern: "*.*" is every name; a letter matches either case; a square
// bracket matches itself.
std::string TranslatePattern(const std::string& pattern) {
  if (pattern == "*.*") return "*";
  std::string out;
  for (char c : pattern) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '[') {
      out += "[[]";
    } else if (c == ']') {
      out += "[]]";
    } else if (std::isalpha(u)) {
      out += '[';
      out += static_cast<char>(std::toupper(u));
      out += static_cast<char>(std::tolower(u));
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<NameFilter> TranslateFilter(const std::string& filter) {
  std::vector<NameFilter> filters;
  if (filter.empty()) return filters;
  const std::vector<std::string> fields = Split(filter, '|');
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    std::string patterns;
    for (const std::string& pattern : Split(fields[i + 1], ';')) {
      const std::string trimmed = Trim(pattern);
      if (trimmed.empty()) continue;
      if (!patterns.empty()) patterns += ' ';
      patterns += TranslatePattern(trimmed);
    }
    filters.push_back({fields[i], patterns});
  }
  return filters;
}

}  // namespace tolv
