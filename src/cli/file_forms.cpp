// The file forms a plain file name stands for, by extension.
#include "cli/file_forms.h"

#include <cctype>

#include "window/commands.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"

namespace tolv::cli {
namespace {

// Why the window would not offer the save now: the window's own rules.
std::optional<std::string> StdRefusal(const Workspace& workspace) {
  return Command_Refusal(CommandId::SaveStd, workspace);
}

std::optional<std::string> DumpRefusal(const Workspace& workspace) {
  return Command_Refusal(CommandId::SaveFlashDump, workspace);
}

std::optional<std::string> TfdRefusal(const Workspace& workspace) {
  return Command_Refusal(CommandId::SaveTfd, workspace);
}

}  // namespace

const std::vector<FileForm>& FileForms() {
  static const std::vector<FileForm> forms = {
      {"std", &STD_Load, &STD_Save, &StdRefusal, &STD_OutputName},
      {"dmp", &FlashDump_Load, &FlashDump_Save, &DumpRefusal, nullptr},
      {"tfd", &TFD_Import, &TFD_Export, &TfdRefusal, nullptr},
  };
  return forms;
}

std::string LowerExtension(const std::string& path) {
  std::string extension = FileName_Split(path).extension;
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

const FileForm* FindFileForm(const std::string& path) {
  const std::string extension = LowerExtension(path);
  for (const FileForm& form : FileForms())
    if (extension == form.extension) return &form;
  return nullptr;
}

}  // namespace tolv::cli
