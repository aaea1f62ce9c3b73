// The comparison of two backups as text and as JSON.
#include <cstdio>

#include "cli/backup_diff.h"
#include "cli/json_text.h"
#include "flash/model_list.h"

namespace tolv::cli {
namespace {

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

// --- JSON ---------------------------------------------------------------------

std::string JsonSystemId(int32_t systemId) { return systemId ? std::to_string(systemId) : "null"; }

std::string JsonBytes(const BytesDiff& d) {
  return "\"differingBytes\":" + std::to_string(d.differing) +
         ",\"firstDifference\":" + (d.first ? std::to_string(*d.first) : "null");
}

std::string JsonRegion(const RegionDiff& r) {
  std::string runs;
  for (const ByteRange& run : r.bytes.runs)
    runs += (runs.empty() ? "[" : ",[") + std::to_string(run.first) + "," + std::to_string(run.last) + "]";
  return "{\"region\":" + JsonString(r.region) + ",\"number\":" + std::to_string(r.number) +
         ",\"start\":" + std::to_string(r.span.first) + ",\"end\":" + std::to_string(r.span.last) + "," +
         JsonBytes(r.bytes) + ",\"runCount\":" + std::to_string(r.bytes.runCount) + ",\"runs\":[" + runs +
         "]}";
}

std::string JsonLayout(uint8_t variant) {
  return JsonString(variant == kLayoutNone ? "none" : Layout_Name(variant));
}

std::string JsonComponent(const ComponentDiff& c) {
  std::string json = "{\"component\":" + JsonString(ComponentName(c.kind)) +
                     ",\"inA\":" + JsonBool(c.sizeA.has_value()) +
                     ",\"inB\":" + JsonBool(c.sizeB.has_value()) + ",\"same\":" + JsonBool(c.Same());
  if (c.sizeA) json += ",\"sizeA\":" + std::to_string(*c.sizeA);
  if (c.sizeB) json += ",\"sizeB\":" + std::to_string(*c.sizeB);
  if (!c.InBoth()) return json + "}";
  json += "," + JsonBytes(c.bytes);
  if (c.kind == ComponentKind::Flash || c.kind == ComponentKind::Defaults)
    json += ",\"layoutA\":" + JsonLayout(c.layoutA) + ",\"layoutB\":" + JsonLayout(c.layoutB);
  json += ",\"regions\":[";
  for (size_t i = 0; i < c.regions.size(); ++i) json += (i ? "," : "") + JsonRegion(c.regions[i]);
  return json + "]}";
}

std::string JsonModel(const char* key, int32_t systemId) {
  if (systemId == 0) return "";
  std::string error;
  return std::string(",\"") + key + "\":" + JsonString(Model_GetNameOrUnknown(systemId, error));
}

}  // namespace

void PrintBackupDiffText(const BackupDiff& diff, const std::string& nameA, const std::string& nameB,
                         std::FILE* out) {
  std::fprintf(out, "A: %s\nB: %s\n", nameA.c_str(), nameB.c_str());
  if (diff.systemIdA == 0 && diff.systemIdB == 0) {
    std::fprintf(out, "SystemID: unknown: neither carries one\n");
  } else if (diff.systemIdA == 0 || diff.systemIdB == 0) {
    std::fprintf(out, "SystemID: A %s, B %s\n", SystemIdKnownText(diff.systemIdA).c_str(),
                 SystemIdKnownText(diff.systemIdB).c_str());
  } else if (diff.SystemIdSame()) {
    std::fprintf(out, "SystemID: same, %s\n", SystemIdText(diff.systemIdA).c_str());
  } else {
    std::fprintf(out, "SystemID: differs: A %s, B %s\n", SystemIdText(diff.systemIdA).c_str(),
                 SystemIdText(diff.systemIdB).c_str());
  }
  for (const ComponentDiff& c : diff.components) {
    std::fprintf(out, "%s: %s\n", ComponentName(c.kind), ComponentLine(c).c_str());
    for (const RegionDiff& r : c.regions)
      std::fprintf(out, "  %s, %s: %s in %llu %s: %s\n", RegionName(r).c_str(), Span(r.span).c_str(),
                   Bytes(r.bytes.differing).c_str(), static_cast<unsigned long long>(r.bytes.runCount),
                   r.bytes.runCount == 1 ? "run" : "runs", RunsText(r.bytes).c_str());
  }
  if (diff.Same()) {
    std::fprintf(out, "The backups are the same.\n");
  } else {
    std::fprintf(out, "The backups differ: %s.\n", DifferingItems(diff).c_str());
  }
}

void PrintBackupDiffJson(const BackupDiff& diff, const std::string& nameA, const std::string& nameB,
                         std::FILE* out) {
  std::string json =
      "{\"a\":" + JsonString(nameA) + ",\"b\":" + JsonString(nameB) + ",\"same\":" + JsonBool(diff.Same()) +
      ",\"systemId\":{\"a\":" + JsonSystemId(diff.systemIdA) + ",\"b\":" + JsonSystemId(diff.systemIdB) +
      JsonModel("modelA", diff.systemIdA) + JsonModel("modelB", diff.systemIdB) +
      ",\"same\":" + JsonBool(diff.SystemIdSame()) + "},\"components\":[";
  for (size_t i = 0; i < diff.components.size(); ++i)
    json += (i ? "," : "") + JsonComponent(diff.components[i]);
  std::fprintf(out, "%s]}\n", json.c_str());
}

}  // namespace tolv::cli
