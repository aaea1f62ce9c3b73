// The table of file forms.
#include "workspace/file_forms.h"

#include <cctype>

#include "workspace/availability.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"

namespace tolv {
namespace {

std::optional<std::string> FlashBinRefusal(const Workspace& workspace) {
  return SaveBin_Refusal(workspace, ComponentKind::Flash);
}

}  // namespace

const std::vector<FileForm>& FileForms() {
  using F = FileFormId;
  static const std::vector<FileForm> forms = {
      {F::Std, "std", "Topfield STD (*.std)|*.std|All files|*.*", "STD file", true, &STD_Load, &STD_Save,
       &SaveStd_Refusal, &STD_OutputName},
      {F::FlashDump, "dmp", "Flash Dump (*.dmp)|*.dmp|All files|*.*", "flash dump", true, &FlashDump_Load,
       &FlashDump_Save, &SaveFlashDump_Refusal, nullptr},
      {F::Tfd, "tfd", "Topfield TFD (*.tfd)|*.tfd|All files|*.*", "TFD file", true, &TFD_Import, &TFD_Export,
       &SaveTfd_Refusal, nullptr},
      // The save of the blocks writes one file per section (FlashBlocks_Save).
      {F::FlashBlocks, "bin", "Block binaries (*[??].bin)|*[??].bin|All files|*.*", "flash block file", false,
       &FlashBlock_Load, nullptr, &FlashBinRefusal, nullptr},
      // Component_LoadBin and Component_SaveBin take the kind besides the path.
      {F::ComponentBin, "bin", "Binaries (*.bin)|*.bin|All files|*.*", "BIN", false, nullptr, nullptr,
       nullptr, nullptr},
  };
  return forms;
}

const FileForm& FileFormOf(FileFormId id) {
  for (const FileForm& form : FileForms())
    if (form.id == id) return form;
  return FileForms().front();  // not reached: every id has a row
}

std::string LowerExtension(const std::string& path) {
  std::string extension = FileName_Split(path).extension;
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

const FileForm* FindFileForm(const std::string& path) {
  const std::string extension = LowerExtension(path);
  for (const FileForm& form : FileForms())
    if (form.namedByExtension && extension == form.extension) return &form;
  return nullptr;
}

}  // namespace tolv
