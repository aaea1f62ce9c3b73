// Making a backup folder, and checking one.
#include "workspace/backup_folder.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>

#include "common/file_io.h"
#include "common/platform.h"
#include "common/sha256.h"
#include "common/version.h"
#include "flash/checksums.h"
#include "flash/model_list.h"
#include "workspace/bin_files.h"
#include "workspace/folder_check.h"
#include "workspace/json_text.h"
#include "workspace/tfd_files.h"

namespace tolv {
namespace {

namespace fs = std::filesystem;

// Paths are UTF-8 text on the command line (on Windows too, where a plain
// string would be read in the system's code page).
fs::path PathOf(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string TextOf(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// "got/" and "got" name the same folder.
fs::path FolderPathOf(std::string dir) {
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  return PathOf(dir);
}

constexpr const char* kBuildPrefix = ".tolv-backup-";

// The folder a backup is built in, beside its target: removed with what it
// holds when it goes, unless it was renamed into place.
class BuildFolder {
 public:
  explicit BuildFolder(const fs::path& parent) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::ostringstream name;
      // The process's number tells a later run whether the folder's builder
      // still runs (Backup_RemoveLeftovers).
      name << kBuildPrefix << CurrentProcessId() << "-" << std::hex << random() << random();
      path_ = parent / name.str();
      std::error_code error;
      if (fs::create_directory(path_, error)) return;
      if (error) throw FileError("Cannot make a folder in \"" + TextOf(parent) + "\": " + error.message());
    }
    throw FileError("Cannot make a folder in \"" + TextOf(parent) + "\": every name tried exists");
  }
  ~BuildFolder() {
    std::error_code ignored;
    if (!kept_) fs::remove_all(path_, ignored);
  }
  BuildFolder(const BuildFolder&) = delete;
  BuildFolder& operator=(const BuildFolder&) = delete;

  const fs::path& path() const { return path_; }
  std::string File(const std::string& name) const { return TextOf(path_ / name); }
  void Keep() { kept_ = true; }

 private:
  fs::path path_;
  bool kept_ = false;
};

std::string Sha256HexOf(ByteView bytes) { return Sha256_Hex(Sha256_Of(bytes)); }

std::string FileName(ComponentKind kind) { return Backup_ComponentFileName(kind); }

// "true", "false", or "null" for a component without checksums, from the
// file as written.
std::string ChecksumsHeld(const std::string& path, ComponentKind kind) {
  const std::optional<bool> held = Component_ChecksumsHeld(kind, ReadFileBytes(path));
  return held ? JsonBool(*held) : "null";
}

// Whether every section checksum of a settings image holds; nothing when no
// layout is recognised (there are then no sections to check).
std::optional<bool> SectionsHold(const uint8_t* settings, size_t size) {
  const uint8_t variant = Flash_RecogniseLayout(settings, size);
  if (variant == kLayoutNone) return std::nullopt;
  const std::vector<ChecksumCheck> checks =
      Flash_CheckSectionChecksums(settings, size, Layout_Sections(variant));
  return std::all_of(checks.begin(), checks.end(),
                     [](const ChecksumCheck& c) { return c.stored == c.computed; });
}

bool RecordsHold(const uint8_t* eeprom, size_t size) {
  const std::vector<ChecksumCheck> checks = Eeprom_CheckChecksums(eeprom, size);
  return std::all_of(checks.begin(), checks.end(),
                     [](const ChecksumCheck& c) { return c.stored == c.computed; });
}

std::string UtcText(std::time_t time) {
  char text[32];
  const std::tm* utc = std::gmtime(&time);
  if (!utc || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) == 0) return "";
  return text;
}

std::string JsonText(const Workspace& workspace, const BackupOrigin& origin, const BuildFolder& folder) {
  std::string error;
  const std::string model = Model_GetNameOrUnknown(workspace.systemId, error);
  std::string json =
      "{\n  \"format\": \"tolvpack backup 1\",\n  \"program\": " +
      JsonString(std::string("tolv ") + kVersion) + ",\n  \"date\": " + JsonString(UtcText(origin.taken)) +
      ",\n  \"port\": " + JsonString(origin.port) +
      ",\n  \"systemId\": " + std::to_string(workspace.systemId) + ",\n  \"model\": " + JsonString(model) +
      ",\n  \"tfd\": " + JsonString(kBackupTfdName) + ",\n  \"components\": [";
  bool first = true;
  for (ComponentKind kind : kAllComponents) {
    if (!workspace.Present(kind)) continue;
    const std::vector<uint8_t>& image = workspace.Image(kind);
    json += std::string(first ? "" : ",") + "\n    {\"component\": " + JsonString(ComponentName(kind)) +
            ", \"file\": " + JsonString(FileName(kind)) + ", \"size\": " + std::to_string(image.size()) +
            ", \"sha256\": " + JsonString(Sha256HexOf(image)) +
            ", \"checksumsOk\": " + ChecksumsHeld(folder.File(FileName(kind)), kind) + "}";
    first = false;
  }
  return json + "\n  ]\n}\n";
}

// The TFD as it reads back must hold what was written into it: the SystemID
// and every component (of the Defaults the settings and the default EEPROM,
// which are what a packed defaults block carries).
void CheckTfdReadsBack(const std::string& path, const Workspace& written) {
  auto read = std::make_unique<Workspace>();
  auto store = std::make_unique<TfdStore>();
  SilentInteraction ui;
  if (const Outcome imported = TFD_Import(*read, *store, path, ui); !imported)
    throw FileError(std::string(kBackupTfdName) + " does not read back: " + imported.Text());
  if (read->systemId != (written.systemId & 0xFFFF))
    throw FileError(std::string(kBackupTfdName) + " reads back with another SystemID");
  for (ComponentKind kind : kAllComponents) {
    if (!written.Present(kind)) continue;
    const std::vector<uint8_t>& a = written.Image(kind);
    const std::vector<uint8_t>& b = read->Image(kind);
    const size_t compared = ReadBack_ComparedBytes(kind, a.size());
    if (!read->Present(kind) || a.size() != b.size())
      throw FileError(std::string(kBackupTfdName) + " reads back without its " + ComponentName(kind));
    const auto end = a.begin() + static_cast<ptrdiff_t>(compared);
    if (const auto at = std::mismatch(a.begin(), end, b.begin()).first; at != end)
      throw FileError(std::string(kBackupTfdName) + " reads back with another " + ComponentName(kind) +
                      " (from offset " + std::to_string(at - a.begin()) + " on)");
  }
}

// Writes the files of the backup into folder; returns the component count.
int WriteFiles(const Workspace& workspace, const BackupOrigin& origin, const BuildFolder& folder,
               UserInteraction& ui) {
  // The component files, all or none, as "-o DIR/" writes them.
  std::vector<FileToSave> files;
  for (ComponentKind kind : kAllComponents)
    if (workspace.Present(kind)) files.push_back({folder.File(FileName(kind)), {workspace.Image(kind)}});
  SaveFilesAtomically(files);
  // The TFD from a copy: its save brings the copy's checksums up to date.
  auto exported = std::make_unique<Workspace>(workspace);
  const std::string tfd = folder.File(kBackupTfdName);
  if (!TFD_Export(*exported, tfd, ui)) throw FileError(std::string(kBackupTfdName) + " could not be written");
  CheckTfdReadsBack(tfd, *exported);
  const std::string json = JsonText(workspace, origin, folder);
  SaveFileAtomically(folder.File(kBackupJsonName),
                     ByteView(reinterpret_cast<const uint8_t*>(json.data()), json.size()));
  // The sums: of the bytes meant for each file, so that a read-back that
  // differs from them is found; the TFD's as it lies on the disk, checked
  // above by reading it back.
  std::string sums;
  for (const FileToSave& file : files)
    sums += Sha256HexOf(file.parts[0]) + "  " + TextOf(PathOf(file.path).filename()) + "\n";
  sums += Sha256HexOf(ReadFileBytes(tfd)) + "  " + kBackupTfdName + "\n";
  sums += Sha256HexOf(ByteView(reinterpret_cast<const uint8_t*>(json.data()), json.size())) + "  " +
          kBackupJsonName + "\n";
  SaveFileAtomically(folder.File(kBackupSumsName),
                     ByteView(reinterpret_cast<const uint8_t*>(sums.data()), sums.size()));
  return static_cast<int>(files.size());
}

// A model name as part of a file name: letters, digits and ".+_" kept, every
// other run of characters one "-", none at either end.
std::string FileNamePart(const std::string& text) {
  std::string part;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '+' || c == '_') {
      part += static_cast<char>(c);
    } else if (!part.empty() && part.back() != '-') {
      part += '-';
    }
  }
  while (!part.empty() && part.back() == '-') part.pop_back();
  return part.substr(0, 40);
}

}  // namespace

std::string Backup_ComponentFileName(ComponentKind kind) {
  std::string word = ComponentName(kind);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word + ".bin";
}

std::optional<bool> Component_ChecksumsHeld(ComponentKind kind, const std::vector<uint8_t>& image) {
  switch (kind) {
    case ComponentKind::Flash: return SectionsHold(image.data(), image.size());
    case ComponentKind::Eeprom: return RecordsHold(image.data(), image.size());
    case ComponentKind::Defaults: {
      if (image.size() < kDefaultsEepromOffset + kEepromImageSize) return std::nullopt;
      // The settings part by its sections, the default EEPROM by its records.
      const bool records = RecordsHold(image.data() + kDefaultsEepromOffset, kEepromImageSize);
      const std::optional<bool> sections = SectionsHold(image.data(), kDefaultsSettingsSize);
      return records && sections.value_or(true);
    }
    default: return std::nullopt;
  }
}

size_t ReadBack_ComparedBytes(ComponentKind kind, size_t imageSize) {
  if (kind == ComponentKind::Flash) return std::min(imageSize, kDefaultsSettingsSize);
  if (kind == ComponentKind::Defaults) return std::min(imageSize, kDefaultsEepromOffset + kEepromImageSize);
  return imageSize;
}

std::string Backup_DefaultName(int32_t systemId, std::time_t taken) {
  // The lookup loads the model list when there is one (a list that cannot
  // be read names no model, as none).
  std::string error;
  Model_GetNameOrUnknown(systemId, error);
  const ModelList* list = ModelList_Loaded();
  const std::optional<std::string> listed = list ? list->Find(static_cast<uint16_t>(systemId)) : std::nullopt;
  std::string model = listed ? FileNamePart(*listed) : "";
  if (model.empty()) model = "Toppy";
  char stamp[32] = "";
  if (const std::tm* local = std::localtime(&taken)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M", local);
  return model + "-" + std::to_string(systemId) + "-" + stamp;
}

std::string Backup_FreeDefaultPath(const std::string& parent, int32_t systemId, std::time_t taken) {
  const std::string base =
      (parent.empty() || parent.ends_with('/') ? parent : parent + "/") + Backup_DefaultName(systemId, taken);
  std::string path = base;
  std::error_code error;
  for (int n = 2; fs::exists(PathOf(path), error); ++n) path = base + "-" + std::to_string(n);
  return path;
}

std::string Backup_TargetFault(const std::string& dir) {
  const fs::path path = FolderPathOf(dir);
  std::error_code error;
  if (fs::exists(path, error)) {
    if (!fs::is_directory(path, error)) return "\"" + dir + "\" is a file, not a folder";
    if (!fs::is_empty(path, error))
      return "the folder \"" + dir + "\" is not empty: a backup goes into a new folder, or an empty one";
    return Folder_WriteFault(TextOf(path.parent_path()), false);
  }
  return Folder_WriteFault(TextOf(path), true);
}

int Backup_Write(const Workspace& workspace, const std::string& dir, const BackupOrigin& origin,
                 UserInteraction& ui) {
  const fs::path target = FolderPathOf(dir);
  const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code error;
  fs::create_directories(parent, error);
  if (error) throw FileError("Cannot make the folder \"" + TextOf(parent) + "\": " + error.message());
  BuildFolder folder(parent);
  const int count = WriteFiles(workspace, origin, folder, ui);
  // Everything read back as it was meant to be.
  const std::vector<std::string> faults = Backup_CheckSums(TextOf(folder.path()));
  if (!faults.empty()) throw FileError("the files read back differ from what was written: " + faults.front());
  if (Saves_CancelRequested()) throw SaveCanceled("Cancelled");
  // An empty folder of the name gives way; one that is no longer empty
  // makes the rename fail, and nothing of it is touched.
  if (fs::is_directory(target, error) && fs::is_empty(target, error)) fs::remove(target, error);
  fs::rename(folder.path(), target, error);
  if (error) throw FileError("Cannot name the backup \"" + dir + "\": " + error.message());
  folder.Keep();
  return count;
}

std::vector<std::string> Backup_RemoveLeftovers(const std::string& parent) {
  std::vector<std::string> removed;
  std::error_code error;
  const fs::path folder = parent.empty() ? fs::path(".") : FolderPathOf(parent);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = TextOf(it->path().filename());
    if (!name.starts_with(kBuildPrefix)) continue;
    const std::string rest = name.substr(std::strlen(kBuildPrefix));
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash)
      continue;  // not one this program names
    if (ProcessIsRunning(std::stol(rest.substr(0, dash)))) continue;
    std::error_code ignored;
    if (fs::remove_all(it->path(), ignored) > 0 && !ignored) removed.push_back(TextOf(it->path()));
  }
  return removed;
}

bool Backup_IsFolder(const std::string& dir) {
  std::error_code error;
  return fs::is_regular_file(FolderPathOf(dir) / kBackupSumsName, error);
}

namespace {

// One line of SHA256SUMS: 64 hexadecimal digits, a blank, a blank or "*"
// (text or binary mode), the file name. False for anything else.
bool ParseSumLine(const std::string& line, std::string& hex, std::string& name) {
  if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) return false;
  hex = line.substr(0, 64);
  for (char& c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  name = line.substr(66);
  if (!name.empty() && name.back() == '\r') name.pop_back();
  return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos;
}

}  // namespace

std::vector<std::string> Backup_CheckSums(const std::string& dir) {
  const fs::path folder = FolderPathOf(dir);
  const std::vector<uint8_t> bytes = ReadFileBytes(TextOf(folder / kBackupSumsName));
  std::istringstream text(std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> faults, listed;
  int number = 0;
  for (std::string line; std::getline(text, line);) {
    ++number;
    std::string hex, name;
    if (!ParseSumLine(line, hex, name)) {
      faults.push_back(std::string(kBackupSumsName) + " line " + std::to_string(number) + ": not a sum line");
      continue;
    }
    listed.push_back(name);
    const std::string path = TextOf(folder / PathOf(name));
    std::error_code error;
    if (!fs::is_regular_file(PathOf(path), error)) {
      faults.push_back(name + ": missing");
    } else if (Sha256HexOf(ReadFileBytes(path)) != hex) {
      faults.push_back(name + ": its SHA-256 differs from " + kBackupSumsName);
    }
  }
  // What a restore loads must be covered by the sums.
  std::vector<std::string> loaded = {kBackupTfdName};
  for (ComponentKind kind : kAllComponents) loaded.push_back(FileName(kind));
  for (const std::string& name : loaded) {
    std::error_code error;
    if (fs::exists(folder / PathOf(name), error) &&
        std::find(listed.begin(), listed.end(), name) == listed.end())
      faults.push_back(name + ": not listed in " + kBackupSumsName);
  }
  return faults;
}

namespace {

// The text of "key": "TEXT" in json, as backup.json writes it (JsonString: \"
// and \\ escaped); nothing when absent.
std::optional<std::string> JsonStringField(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\": \"";
  size_t at = json.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::string text;
  for (at += key.size(); at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\' && at + 1 < json.size()) ++at;
    text += json[at];
  }
  if (at >= json.size()) return std::nullopt;
  return text;
}

// The number of "key": NUMBER in json; nothing when absent or not a number.
std::optional<int32_t> JsonNumberField(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  const size_t at = json.find(key);
  if (at == std::string::npos) return std::nullopt;
  size_t end = at + key.size();
  int64_t value = 0;
  for (; end < json.size() && std::isdigit(static_cast<unsigned char>(json[end])) && value <= INT32_MAX;
       ++end)
    value = value * 10 + (json[end] - '0');
  if (end == at + key.size() || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<std::string> BackupJson(const std::string& dir) {
  const std::string path = TextOf(FolderPathOf(dir) / kBackupJsonName);
  // backup.json is a few hundred bytes: a large one is not read.
  constexpr uint64_t kLargestJson = 1u << 20;
  try {
    if (FileSizeOf(path) > kLargestJson) return std::nullopt;
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  } catch (const FileError&) {
    return std::nullopt;
  }
}

}  // namespace

std::optional<std::string> Backup_RecordedPort(const std::string& dir) {
  const std::string port = Backup_ReadRecord(dir).port;
  if (port.empty()) return std::nullopt;
  return port;
}

BackupRecord Backup_ReadRecord(const std::string& dir) {
  BackupRecord record;
  const std::optional<std::string> json = BackupJson(dir);
  if (!json) return record;
  record.systemId = JsonNumberField(*json, "systemId");
  record.model = JsonStringField(*json, "model").value_or("");
  record.date = JsonStringField(*json, "date").value_or("");
  record.port = JsonStringField(*json, "port").value_or("");
  return record;
}

std::vector<std::string> Backup_Faults(const std::string& dir) {
  try {
    return Backup_CheckSums(dir);
  } catch (const FileError& error) {
    return {error.what()};
  }
}

Outcome Backup_Load(Workspace& workspace, const std::string& dir, UserInteraction& ui) {
  const fs::path folder = FolderPathOf(dir);
  std::error_code error;
  if (const fs::path tfd = folder / kBackupTfdName; fs::exists(tfd, error)) {
    if (const Outcome loaded = TFD_Import(workspace, TextOf(tfd), ui); loaded.Stops()) return loaded;
  }
  for (ComponentKind kind : kAllComponents) {
    const fs::path file = folder / FileName(kind);
    if (!fs::exists(file, error)) continue;
    if (const Outcome loaded = Component_LoadBin(workspace, kind, TextOf(file), ui); loaded.Stops())
      return loaded;
  }
  return Outcome::Done();
}

}  // namespace tolv
