// The dialog of every file command, and the pairs of a filter.
#include "window/file_dialogs.h"

namespace tolv {
namespace {

constexpr const char* kFilterStd = "Topfield STD (*.std)|*.std|All files|*.*";
constexpr const char* kFilterTfd = "Topfield TFD (*.tfd)|*.tfd|All files|*.*";
constexpr const char* kFilterBin = "Binaries (*.bin)|*.bin|All files|*.*";
constexpr const char* kFilterDump = "Flash Dump (*.dmp)|*.dmp|All files|*.*";
constexpr const char* kFilterBlocks = "Block binaries (*[??].bin)|*[??].bin|All files|*.*";

FileDialogRequest Open(const char* extension, const char* title, const char* filter) {
  return {FileDialogRequest::Kind::Open, extension, title, filter};
}

FileDialogRequest Save(const char* extension, const char* title, const char* filter) {
  return {FileDialogRequest::Kind::Save, extension, title, filter};
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
    if (command == LoadBinCommand(*kind)) return Open("bin", kLoadBinTitles[k], kFilterBin);
    if (command == SaveBinCommand(*kind)) return Save("bin", kSaveBinTitles[k], kFilterBin);
    return std::nullopt;  // a removal
  }
  switch (command) {
    case CommandId::LoadStd: return Open("std", "TolvPack: Load a std files", kFilterStd);
    case CommandId::LoadTfd: return Open("tfd", "TolvPack: Load a tfd files", kFilterTfd);
    case CommandId::SaveStd: return Save("std", "TolvPack: Save a std files", kFilterStd);
    case CommandId::SaveTfd: return Save("tfd", "TolvPack: Save a tfd file", kFilterTfd);
    case CommandId::LoadFlashDump: return Open("dmp", "TolvPack: Load a Flash Dump", kFilterDump);
    case CommandId::LoadFlashBlock: return Open("bin", "TolvPack: Load flash blocks", kFilterBlocks);
    case CommandId::SaveFlashDump: return Save("dmp", "TolvPack: Save a Flash Dump", kFilterDump);
    case CommandId::SaveFlashBlocks: return Save("bin", "TolvPack: Save flash blocks", kFilterBlocks);
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
