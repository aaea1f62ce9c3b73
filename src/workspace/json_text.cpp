// JSON text for the --json outputs.
#include "workspace/json_text.h"

#include <cstdio>

namespace tolv {
namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when the byte
// there begins none (a stray continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF, or a sequence cut short).
size_t Utf8SequenceAt(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  return length;
}

std::string Escaped(const char* format, unsigned char c) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, c);
  return escape;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += Escaped("\\u%04x", c);
    } else if (c >= 0x80) {
      const size_t length = Utf8SequenceAt(text, i);
      out += length ? text.substr(i, length) : "\\ufffd";
      i += length ? length : 1;
      continue;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + JsonString(items[i]);
  return out + "]";
}

const char* JsonBool(bool value) { return value ? "true" : "false"; }

std::string PrintableName(const std::string& name) {
  bool plain = true;
  for (unsigned char c : name) plain = plain && c >= 0x20 && c != 0x7F;
  if (plain) return name;
  std::string out = "\"";
  for (unsigned char c : name) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += Escaped("\\x%02x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace tolv
