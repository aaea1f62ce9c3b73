// Which files an argument stands for, and the printed report.
#include "cli/inspect.h"

#include <map>

#include "cli/folder_input.h"
#include "common/file_io.h"
#include "workspace/backup_folder.h"
#include "workspace/json_text.h"

namespace tolv::cli {
namespace {

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

}  // namespace

std::vector<InspectTarget> InspectTargets(const std::string& arg) {
  if (!NamesFolder(arg)) return {{arg, std::nullopt}};
  std::vector<InspectTarget> targets;
  for (const FolderFile& file : FolderComponentFiles(arg)) targets.push_back({file.path, file.kind});
  if (targets.empty()) throw FileError(NoComponentFilesText(arg));
  const std::string tfd = (arg.ends_with('/') || arg.ends_with('\\') ? arg : arg + "/") + kBackupTfdName;
  if (Backup_IsFolder(arg) && FileExists(tfd)) targets.push_back({tfd, std::nullopt});
  return targets;
}

FileReport InspectBackupFolder(const std::string& dir) {
  FileReport report;
  report.path = dir;
  report.form = "backup folder";
  const BackupRecord record = Backup_ReadRecord(dir);
  if (record.systemId) {
    SetSystemId(*record.systemId, report);
    if (!record.model.empty()) report.modelName = record.model;
  } else {
    report.problems.push_back(std::string(kBackupJsonName) + ": no SystemID can be read from it");
  }
  if (!record.date.empty())
    report.notes.push_back("taken " + record.date + (record.port.empty() ? "" : " on " + record.port));
  for (const std::string& fault : Backup_Faults(dir)) report.problems.push_back(fault);
  return report;
}

FileReport Inspect(const InspectTarget& target) {
  return target.kind ? InspectComponentBin(target.path, *target.kind) : InspectFile(target.path);
}

bool InspectArguments(const std::vector<std::string>& args,
                      const std::function<void(const FileReport&)>& use) {
  bool allRead = true;
  auto attempt = [&allRead](const std::function<void()>& work) {
    try {
      work();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s\n", error.what());
      allRead = false;
    }
  };
  for (const std::string& arg : args) {
    attempt([&] {
      if (NamesFolder(arg) && Backup_IsFolder(arg)) use(InspectBackupFolder(arg));
      for (const InspectTarget& target : InspectTargets(arg)) attempt([&] { use(Inspect(target)); });
    });
  }
  return allRead;
}

// --- printing ----------------------------------------------------------------

namespace {

std::string Describe(const ChecksumReport& c) {
  return c.group + " " + c.name + " (stored " + Hex(c.stored, 4) + ", computed " + Hex(c.computed, 4) +
         ", at " + Hex(c.offset, 5) + ")";
}

}  // namespace

void PrintReportText(const FileReport& report, std::FILE* out) {
  std::fprintf(out, "%s: %s, %llu bytes\n", PrintableName(report.path).c_str(), report.form.c_str(),
               static_cast<unsigned long long>(report.size));
  if (report.systemId)
    std::fprintf(out, "  SystemID: %d (%s)\n", static_cast<int>(*report.systemId), report.modelName.c_str());
  if (report.layout) std::fprintf(out, "  Layout: %s\n", report.layout->c_str());
  for (const ComponentReport& c : report.components)
    std::fprintf(out, "  Component: %s, %llu bytes%s%s\n", c.component.c_str(),
                 static_cast<unsigned long long>(c.size), c.note.empty() ? "" : ", ", c.note.c_str());
  for (const ModelHeaderReport& h : report.modelHeaders)
    std::fprintf(out, "  Model header%s: %s\n", h.block.empty() ? "" : (" (" + h.block + ")").c_str(),
                 h.Describe().c_str());
  // Good checksums counted per group in order of appearance, bad ones named.
  std::vector<std::string> groups;
  std::map<std::string, std::pair<int, int>> counts;
  for (const ChecksumReport& c : report.checksums) {
    if (!counts.count(c.group)) groups.push_back(c.group);
    (c.ok ? counts[c.group].first : counts[c.group].second)++;
  }
  for (const std::string& group : groups)
    std::fprintf(out, "  Checksums: %s: %d OK, %d BAD\n", group.c_str(), counts[group].first,
                 counts[group].second);
  for (const ChecksumReport& c : report.checksums)
    if (!c.ok) std::fprintf(out, "  BAD %s\n", Describe(c).c_str());
  for (const std::string& problem : report.problems) std::fprintf(out, "  Problem: %s\n", problem.c_str());
  for (const std::string& named : report.named) std::fprintf(out, "  Named: %s\n", named.c_str());
  for (const std::string& note : report.notes) std::fprintf(out, "  Note: %s\n", note.c_str());
}

void PrintReportJson(const FileReport& report, std::FILE* out) {
  std::string json = "{\"file\":" + JsonString(report.path) + ",\"form\":" + JsonString(report.form) +
                     ",\"size\":" + std::to_string(report.size);
  if (report.systemId)
    json +=
        ",\"systemId\":" + std::to_string(*report.systemId) + ",\"model\":" + JsonString(report.modelName);
  if (report.layout) json += ",\"layout\":" + JsonString(*report.layout);
  json += ",\"components\":[";
  for (size_t i = 0; i < report.components.size(); ++i) {
    const ComponentReport& c = report.components[i];
    json += std::string(i ? "," : "") + "{\"component\":" + JsonString(c.component) +
            ",\"size\":" + std::to_string(c.size) + ",\"note\":" + JsonString(c.note) + "}";
  }
  json += "],\"modelHeaders\":[";
  for (size_t i = 0; i < report.modelHeaders.size(); ++i) {
    const ModelHeaderReport& h = report.modelHeaders[i];
    json += std::string(i ? "," : "") + "{\"block\":" + JsonString(h.block) +
            ",\"kind\":" + JsonString(h.kind) + ",\"systemId\":" + std::to_string(h.systemId) +
            ",\"form\":" + JsonString(h.littleEndian ? "little-endian" : "big-endian") +
            ",\"description\":" + JsonString(h.Describe()) + "}";
  }
  json += "],\"checksums\":[";
  for (size_t i = 0; i < report.checksums.size(); ++i) {
    const ChecksumReport& c = report.checksums[i];
    json += std::string(i ? "," : "") + "{\"group\":" + JsonString(c.group) +
            ",\"name\":" + JsonString(c.name) + ",\"offset\":" + std::to_string(c.offset) +
            ",\"stored\":" + std::to_string(c.stored) + ",\"computed\":" + std::to_string(c.computed) +
            ",\"ok\":" + (c.ok ? "true" : "false") + "}";
  }
  json += "],\"problems\":" + JsonList(report.problems) + ",\"named\":" + JsonList(report.named) +
          ",\"notes\":" + JsonList(report.notes) + ",\"ok\":" + (report.AllOk() ? "true" : "false") + "}";
  std::fprintf(out, "%s\n", json.c_str());
}

}  // namespace tolv::cli
