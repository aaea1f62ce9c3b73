// The comparison of two backups as JSON, and its text printed.
#include <cstdio>

#include "cli/backup_diff.h"
#include "flash/model_list.h"
#include "workspace/json_text.h"

namespace tolv::cli {
namespace {

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
  std::fputs(BackupDiff_Text(diff, nameA, nameB).c_str(), out);
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
