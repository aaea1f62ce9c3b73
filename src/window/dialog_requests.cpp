// The dialog of every file command, and the pairs of a filter.
#include "window/dialog_requests.h"

#include "workspace/file_forms.h"

namespace tolv {
namespace {

// Every dialog offers the extension and filter of its form's row.
FileDialogRequest Open(FileFormId id, const char* title) {
  const FileForm& form = FileFormOf(id);
  return {FileDialogRequest::Kind::Open, form.extension, title, form.filter};
}

FileDialogRequest Save(FileFormId id, const char* title) {
  const FileForm& form = FileFormOf(id);
  return {FileDialogRequest::Kind::Save, form.extension, title, form.filter};
}

// The titles of the BIN loads and saves, in ComponentKind order.
constexpr const char* kLoadBinTitles[kComponentCount] = {
    "TolvPack: Load a Loader BIN", "TolvPack: Load a Firmware BIN", "TolvPack: Load a Flash BIN",
    "TolvPack: Load a EEPROM BIN", "TolvPack: Load a Defaults BIN", "TolvPack: Load a Background BIN"};
constexpr const char* kSaveBinTitles[kComponentCount] = {
    "TolvPack: Save a Loader BIN", "TolvPack: Save a Firmware BIN", "TolvPack: Save a Flash BIN",
    "TolvPack: Save a EEPROM BIN", "TolvPack: Save a Defaults BIN", "TolvPack: Save a Background BIN"};

}  // namespace

std::optional<FileDialogRequest> DialogRequestFor(CommandId command) {
  if (std::optional<ComponentKind> kind = CommandComponent(command)) {
    const size_t k = static_cast<size_t>(*kind);
    if (command == LoadBinCommand(*kind)) return Open(FileFormId::ComponentBin, kLoadBinTitles[k]);
    if (command == SaveBinCommand(*kind)) return Save(FileFormId::ComponentBin, kSaveBinTitles[k]);
    return std::nullopt;  // a removal
  }
  switch (command) {
    case CommandId::LoadStd: return Open(FileFormId::Std, "TolvPack: Load a std files");
    case CommandId::LoadTfd: return Open(FileFormId::Tfd, "TolvPack: Load a tfd files");
    case CommandId::SaveStd: return Save(FileFormId::Std, "TolvPack: Save a std files");
    case CommandId::SaveTfd: return Save(FileFormId::Tfd, "TolvPack: Save a tfd file");
    case CommandId::LoadFlashDump: return Open(FileFormId::FlashDump, "TolvPack: Load a Flash Dump");
    case CommandId::LoadFlashBlock: return Open(FileFormId::FlashBlocks, "TolvPack: Load flash blocks");
    case CommandId::SaveFlashDump: return Save(FileFormId::FlashDump, "TolvPack: Save a Flash Dump");
    case CommandId::SaveFlashBlocks: return Save(FileFormId::FlashBlocks, "TolvPack: Save flash blocks");
    default: return std::nullopt;
  }
}

std::vector<FilterPair> FilterPairs(const std::string& filter) {
  std::vector<std::string> fields;
  size_t begin = 0;
  for (size_t end; (end = filter.find('|', begin)) != std::string::npos; begin = end + 1)
    fields.push_back(filter.substr(begin, end - begin));
  fields.push_back(filter.substr(begin));
  std::vector<FilterPair> pairs;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) pairs.push_back({fields[i], fields[i + 1]});
  return pairs;
}

}  // namespace tolv
