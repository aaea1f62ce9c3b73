// The window's load and save commands. Each one prepares a fresh dialog for
// its format (default extension, title, filter), lets the user pick a file and
// hands the full name to the format's operation, which reports its own
// failures; then the display is refreshed. A cancelled dialog changes nothing.
#include <functional>
#include <string>

#include "ui/main_window.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"

namespace tolv {
namespace {

constexpr const char* kFilterStd = "Topfield STD (*.std)|*.std|All files|*.*";
constexpr const char* kFilterTfd = "Topfield TFD (*.tfd)|*.tfd|All files|*.*";
constexpr const char* kFilterBin = "Binaries (*.bin)|*.bin|All files|*.*";
constexpr const char* kFilterDump = "Flash Dump (*.dmp)|*.dmp|All files|*.*";
constexpr const char* kFilterBlocks = "Block binaries (*[??].bin)|*[??].bin|All files|*.*";

FileDialogRequest OpenRequest(const char* extension, const char* title, const char* filter) {
  return {FileDialogRequest::Kind::Open, extension, title, filter};
}

FileDialogRequest SaveRequest(const char* extension, const char* title, const char* filter) {
  return {FileDialogRequest::Kind::Save, extension, title, filter};
}

}  // namespace

void TForm1::RunFileCommand(const FileDialogRequest& request,
                            const std::function<void(const std::string&)>& operation) {
  const std::string fileName = services_.fileDialogs->Choose(request);
  if (fileName.empty()) return;
  operation(fileName);
  Status_Refresh();
}

void TForm1::LoadBin(ComponentKind kind, const char* title) {
  RunFileCommand(OpenRequest("bin", title, kFilterBin), [this, kind](const std::string& name) {
    Component_LoadBin(workspace_, kind, name, interaction_);
  });
}

void TForm1::SaveBin(ComponentKind kind, const char* title) {
  RunFileCommand(SaveRequest("bin", title, kFilterBin),
                 [this, kind](const std::string& name) { Component_SaveBin(workspace_, kind, name); });
}

void TForm1::ButtonLoadSTDClick() {
  RunFileCommand(OpenRequest("std", "TolvPack: Load a std files", kFilterStd),
                 [this](const std::string& name) { STD_Load(workspace_, name, interaction_); });
}

void TForm1::ButtonLoadTFDClick() {
  RunFileCommand(OpenRequest("tfd", "TolvPack: Load a tfd files", kFilterTfd),
                 [this](const std::string& name) { TFD_Import(workspace_, name, interaction_); });
}

void TForm1::ButtonSaveSTDClick() {
  RunFileCommand(SaveRequest("std", "TolvPack: Save a std files", kFilterStd),
                 [this](const std::string& name) { STD_Save(workspace_, name, interaction_); });
}

void TForm1::ButtonSaveTFDClick() {
  RunFileCommand(SaveRequest("tfd", "TolvPack: Save a tfd file", kFilterTfd),
                 [this](const std::string& name) { TFD_Export(workspace_, name, interaction_); });
}

void TForm1::MenuLoadLoaderBINClick() { LoadBin(ComponentKind::Loader, "TolvPack: Load a Loader BIN"); }
void TForm1::MenuLoadFirmwareBINClick() { LoadBin(ComponentKind::Firmware, "TolvPack: Load a Firmware BIN"); }
void TForm1::MenuLoadFlashBINClick() { LoadBin(ComponentKind::Flash, "TolvPack: Load a Flash BIN"); }
void TForm1::MenuLoadEEPROMBINClick() { LoadBin(ComponentKind::Eeprom, "TolvPack: Load a EEPROM BIN"); }
void TForm1::MenuLoadDefaultsBINClick() { LoadBin(ComponentKind::Defaults, "TolvPack: Load a Defaults BIN"); }
void TForm1::MenuLoadBackgroundBINClick() {
  LoadBin(ComponentKind::Background, "TolvPack: Load a Background BIN");
}

void TForm1::MenuLoadFlashDMPClick() {
  RunFileCommand(OpenRequest("dmp", "TolvPack: Load a Flash Dump", kFilterDump),
                 [this](const std::string& name) { FlashDump_Load(workspace_, name, interaction_); });
}

void TForm1::MenuLoadFlashBlockClick() {
  RunFileCommand(OpenRequest("bin", "TolvPack: Load flash blocks", kFilterBlocks),
                 [this](const std::string& name) { FlashBlock_Load(workspace_, name, interaction_); });
}

void TForm1::MenuSaveLoaderBINClick() { SaveBin(ComponentKind::Loader, "TolvPack: Save a Loader BIN"); }
void TForm1::MenuSaveFirmwareBINClick() { SaveBin(ComponentKind::Firmware, "TolvPack: Save a Firmware BIN"); }
void TForm1::MenuSaveFlashBINClick() { SaveBin(ComponentKind::Flash, "TolvPack: Save a Flash BIN"); }
void TForm1::MenuSaveEEPROMBINClick() { SaveBin(ComponentKind::Eeprom, "TolvPack: Save a EEPROM BIN"); }
void TForm1::MenuSaveDefaultsBINClick() { SaveBin(ComponentKind::Defaults, "TolvPack: Save a Defaults BIN"); }
void TForm1::MenuSaveBackgroundBINClick() {
  SaveBin(ComponentKind::Background, "TolvPack: Save a Background BIN");
}

void TForm1::MenuSaveFlashDMPClick() {
  RunFileCommand(SaveRequest("dmp", "TolvPack: Save a Flash Dump", kFilterDump),
                 [this](const std::string& name) { FlashDump_Save(workspace_, name, interaction_); });
}

void TForm1::MenuSaveFlashBlocksClick() {
  RunFileCommand(
      SaveRequest("bin", "TolvPack: Save flash blocks", kFilterBlocks), [this](const std::string& name) {
        if (FlashBlocks_Save(workspace_, name, interaction_).empty()) return;
        // Block files of an earlier save left in place would be taken for these.
        std::string leftovers;
        for (const std::string& file : FlashBlocks_Leftovers(workspace_, name))
          leftovers += (leftovers.empty() ? "" : "\n") + file + " is from before and was not replaced";
        if (!leftovers.empty()) interaction_.Information(leftovers);
      });
}

}  // namespace tolv
