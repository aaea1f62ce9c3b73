// The comparison of two backups as lines of text.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "flash/model_list.h"
#include "workspace/backup_diff.h"

namespace tolv {
namespace {

// Appends printf-formatted text to out.
[[gnu::format(printf, 2, 3)]] void Append(std::string& out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof line) {
    out += line;
    return;
  }
  // A long line (a long folder name): formatted again at its full length.
  std::string longer(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(longer.data(), longer.size(), format, args);
  va_end(args);
  longer.pop_back();
  out += longer;
}

// Runs named per region in the text; JSON lists all that were kept.
constexpr size_t kRunsInText = 8;

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%05llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Span(const ByteRange& range) {
  return range.first == range.last ? Hex(range.first) : Hex(range.first) + "-" + Hex(range.last);
}

std::string Bytes(uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// "406 (TF5000PVR, TF5500PVR)", or "none".
std::string SystemIdText(int32_t systemId) {
  if (systemId == 0) return "none";
  std::string error;
  return std::to_string(systemId) + " (" + Model_GetNameOrUnknown(systemId, error) + ")";
}

// As SystemIdText, with "unknown: it carries none" for a backup without one.
std::string SystemIdKnownText(int32_t systemId) {
  return systemId == 0 ? "unknown: it carries none" : SystemIdText(systemId);
}

std::string LayoutText(uint8_t variant) {
  return variant == kLayoutNone ? "none recognised" : Layout_Name(variant);
}

std::string LayoutsText(const ComponentDiff& c) {
  if (c.layoutA == c.layoutB)
    return c.layoutA == kLayoutNone ? "no layout recognised in either"
                                    : "layout " + LayoutText(c.layoutA) + " in both";
  return "layout " + LayoutText(c.layoutA) + " in A, " + LayoutText(c.layoutB) + " in B";
}

std::string RegionName(const RegionDiff& r) {
  return r.number ? r.region + " " + std::to_string(r.number) : r.region;
}

std::string RunsText(const BytesDiff& d) {
  std::string text;
  for (size_t i = 0; i < d.runs.size() && i < kRunsInText; ++i) text += (i ? ", " : "") + Span(d.runs[i]);
  const uint64_t shown = std::min<uint64_t>(d.runs.size(), kRunsInText);
  if (d.runCount > shown) text += ", and " + std::to_string(d.runCount - shown) + " more";
  return text;
}

std::string ComponentLine(const ComponentDiff& c) {
  if (!c.sizeA && !c.sizeB) return "in neither";
  if (!c.sizeB) return "only in A (" + Bytes(*c.sizeA) + ")";
  if (!c.sizeA) return "only in B (" + Bytes(*c.sizeB) + ")";
  if (c.Same()) return "same (" + Bytes(*c.sizeA) + ")";
  std::string text = "differs: " + Bytes(c.bytes.differing) + ", the first at " + Hex(*c.bytes.first);
  if (*c.sizeA != *c.sizeB) text += "; A " + Bytes(*c.sizeA) + ", B " + Bytes(*c.sizeB);
  if (c.kind == ComponentKind::Flash || c.kind == ComponentKind::Defaults) text += "; " + LayoutsText(c);
  return text;
}

std::string DifferingItems(const BackupDiff& diff) {
  std::string items = diff.SystemIdSame() ? "" : "SystemID";
  for (const ComponentDiff& c : diff.components)
    if (!c.Same()) items += (items.empty() ? "" : ", ") + std::string(ComponentName(c.kind));
  return items;
}

}  // namespace

std::string BackupDiff_Text(const BackupDiff& diff, const std::string& nameA, const std::string& nameB) {
  std::string out;
  Append(out, "A: %s\nB: %s\n", nameA.c_str(), nameB.c_str());
  if (diff.systemIdA == 0 && diff.systemIdB == 0) {
    Append(out, "SystemID: unknown: neither carries one\n");
  } else if (diff.systemIdA == 0 || diff.systemIdB == 0) {
    Append(out, "SystemID: A %s, B %s\n", SystemIdKnownText(diff.systemIdA).c_str(),
           SystemIdKnownText(diff.systemIdB).c_str());
  } else if (diff.SystemIdSame()) {
    Append(out, "SystemID: same, %s\n", SystemIdText(diff.systemIdA).c_str());
  } else {
    Append(out, "SystemID: differs: A %s, B %s\n", SystemIdText(diff.systemIdA).c_str(),
           SystemIdText(diff.systemIdB).c_str());
  }
  for (const ComponentDiff& c : diff.components) {
    Append(out, "%s: %s\n", ComponentName(c.kind), ComponentLine(c).c_str());
    for (const RegionDiff& r : c.regions)
      Append(out, "  %s, %s: %s in %llu %s: %s\n", RegionName(r).c_str(), Span(r.span).c_str(),
             Bytes(r.bytes.differing).c_str(), static_cast<unsigned long long>(r.bytes.runCount),
             r.bytes.runCount == 1 ? "run" : "runs", RunsText(r.bytes).c_str());
  }
  if (diff.Same()) {
    Append(out, "The backups are the same.\n");
  } else {
    Append(out, "The backups differ: %s.\n", DifferingItems(diff).c_str());
  }
  return out;
}

}  // namespace tolv
