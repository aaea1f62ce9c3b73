#include "flash/model_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "codec/crc16.h"
#include "common/file_io.h"

namespace tolv {
namespace {

// "Firmware.dat": a 20-byte header, then N1 model records of 348 bytes and N2
// records of a second table (72 bytes each) that model lookup does not need.
constexpr size_t kHeaderSize = 20;
constexpr size_t kModelCountOffset = 12;
constexpr size_t kModelRecordSize = 348;
constexpr size_t kRecordSystemIdOffset = 0;
constexpr size_t kRecordNameOffset = 4;
constexpr size_t kRecordNameField = 256;

constexpr const char* kModelFileName = "Firmware.dat";
// The folder of the model file below each XDG data directory.
constexpr const char* kDataSubdirectory = "/tolvpack/";
constexpr const char* kDefaultDataDirs = "/usr/local/share:/usr/share";

// The process's model list and the file it came from; empty until a file has
// been found.
struct LoadedModelList {
  ModelList list;
  std::string path;
};
std::optional<LoadedModelList>& Loaded() {
  static std::optional<LoadedModelList> loaded;
  return loaded;
}

// Replaces the executable's directory in tests.
std::optional<std::string>& ProgramDirectoryOverride() {
  static std::optional<std::string> dir;
  return dir;
}

// The shared model-name text: up to kModelNameMax characters and a terminator.
char g_modelNameText[kModelNameMax + 1] = {};

// A name field: characters up to the first 0x00, at most the field's 256
// bytes, cut to kModelNameMax.
std::string NameFromField(const uint8_t* field) {
  const uint8_t* fieldEnd = field + kRecordNameField;
  const uint8_t* nameEnd = std::find(field, fieldEnd, uint8_t{0});
  const size_t length = std::min<size_t>(static_cast<size_t>(nameEnd - field), kModelNameMax);
  return std::string(reinterpret_cast<const char*>(field), length);
}

// The XDG base directory rules accept only absolute paths; a relative one
// counts as unset.
bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// dir without the separators it ends with ("/" becomes empty), so that
// paths joined to it do not double them.
std::string WithoutTrailingSeparators(std::string dir) {
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir;
}

// DIR/tolvpack/Firmware.dat.
std::string InDataDirectory(const std::string& dir) {
  return WithoutTrailingSeparators(dir) + kDataSubdirectory + kModelFileName;
}

std::string UnknownText(uint16_t systemId) {
  char text[32];
  std::snprintf(text, sizeof text, "unknown SysID=%d", static_cast<int>(systemId));
  return text;
}

}  // namespace

ModelList ModelList::Parse(const std::vector<uint8_t>& fileBytes) {
  ModelList list;
  if (fileBytes.size() < kHeaderSize) return list;
  // Only whole records inside the file count, whatever the header claims.
  const size_t claimed = ReadBE32(fileBytes.data() + kModelCountOffset);
  const size_t present = (fileBytes.size() - kHeaderSize) / kModelRecordSize;
  const size_t count = std::min(claimed, present);
  list.models_.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* record = fileBytes.data() + kHeaderSize + i * kModelRecordSize;
    list.models_.push_back({static_cast<uint16_t>(ReadBE16(record + kRecordSystemIdOffset)),
                            NameFromField(record + kRecordNameOffset)});
  }
  return list;
}

std::optional<std::string> ModelList::Find(uint16_t systemId) const {
  for (const Model& model : models_) {
    if (model.systemId == systemId) return model.name;
  }
  return std::nullopt;
}

std::vector<std::string> ModelList_SearchPath(const ModelSearchSettings& settings) {
  // The current directory first, then beside the program.
  std::vector<std::string> paths = {kModelFileName};
  if (!settings.programDirectory.empty()) paths.push_back(settings.programDirectory + kModelFileName);
  // The user's data directory.
  if (IsAbsolute(settings.dataHome)) {
    paths.push_back(InDataDirectory(settings.dataHome));
  } else if (IsAbsolute(settings.home)) {
    paths.push_back(InDataDirectory(WithoutTrailingSeparators(settings.home) + "/.local/share"));
  }
  // The system's data directories, most important first.
  const std::string dataDirs = settings.dataDirs.empty() ? kDefaultDataDirs : settings.dataDirs;
  size_t start = 0;
  while (start <= dataDirs.size()) {
    size_t end = dataDirs.find(':', start);
    if (end == std::string::npos) end = dataDirs.size();
    const std::string dir = dataDirs.substr(start, end - start);
    if (IsAbsolute(dir)) paths.push_back(InDataDirectory(dir));
    start = end + 1;
  }
  return paths;
}

std::string ModelList_ProgramDirectory() {
  return ProgramDirectoryOverride().value_or(ExecutableDirectory());
}

void ModelList_Load() {
  if (Loaded()) return;
  for (const std::string& path : ModelList_SearchPath()) {
    // A place whose Firmware.dat is no regular file (a FIFO, a device) is
    // passed over: reading it could wait for ever.
    if (!IsRegularFile(path)) continue;
    // The size first: a file far larger than any list of models is not read
    // (every command looks a name up), and lists no model.
    std::vector<uint8_t> bytes;
    if (FileSizeOf(path) <= kModelListMaxSize) bytes = ReadFileBytes(path);
    Loaded() = LoadedModelList{ModelList::Parse(bytes), path};
    return;
  }
}

const ModelList* ModelList_Loaded() {
  ModelList_Load();
  return Loaded() ? &Loaded()->list : nullptr;
}

std::optional<std::string> ModelList_LoadedFile() {
  if (!Loaded()) return std::nullopt;
  return Loaded()->path;
}

std::string ModelList_Lookup(uint32_t systemId) {
  ModelList_Load();
  const uint16_t id = static_cast<uint16_t>(systemId);
  if (Loaded()) {
    if (std::optional<std::string> name = Loaded()->list.Find(id)) return *name;
  }
  return UnknownText(id);
}

const char* Model_GetName(int32_t systemId) {
  Model_SetNameText(ModelList_Lookup(static_cast<uint32_t>(systemId)));
  return g_modelNameText;
}

const char* Model_GetNameOrUnknown(int32_t systemId, std::string& error) {
  try {
    return Model_GetName(systemId);
  } catch (const FileError& e) {
    error = e.what();
    Model_SetNameText(UnknownText(static_cast<uint16_t>(systemId)));
    return g_modelNameText;
  }
}

const char* Model_NameText() { return g_modelNameText; }

void Model_SetNameText(const std::string& name) {
  const size_t length = std::min(name.size(), kModelNameMax);
  std::memcpy(g_modelNameText, name.data(), length);
  g_modelNameText[length] = '\0';
}

namespace testing {
void ModelList_Unload() { Loaded().reset(); }
void ModelList_OverrideProgramDirectory(std::optional<std::string> dir) {
  ProgramDirectoryOverride() = std::move(dir);
}
}  // namespace testing

}  // namespace tolv
