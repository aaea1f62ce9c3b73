// The file forms that a plain file name stands for on the command line,
// chosen by extension: NAME.std as input is an STD load, "-o NAME.std" an STD
// save, and so on. One table, in file_forms.cpp; a new form is one more row.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv::cli {

struct FileForm {
  const char* extension;  // lower case, without the dot: "std"
  // Loads path into the workspace as the window's Load command does and
  // returns the outcome. nullptr when the form cannot be read.
  Outcome (*load)(Workspace& workspace, const std::string& path, UserInteraction& ui);
  // Saves the workspace to path as the window's Save command does and
  // returns the outcome. nullptr when the form cannot be written.
  Outcome (*save)(Workspace& workspace, const std::string& path, UserInteraction& ui);
  // Why the window would not offer the save now (its button disabled), or
  // nothing when it would: e.g. "Saving an STD file needs the Flash and the
  // EEPROM." nullptr when the save is always offered.
  std::optional<std::string> (*saveRefusal)(const Workspace& workspace);
  // The name the save actually writes for path (the STD save replaces the
  // extension), or nullptr when it writes path itself.
  std::string (*outputName)(const std::string& path);
};

const std::vector<FileForm>& FileForms();

// The form whose extension the file name has (any case), or nullptr.
const FileForm* FindFileForm(const std::string& path);

// Lower-case extension of path (FileName_Split), "" when none.
std::string LowerExtension(const std::string& path);

}  // namespace tolv::cli
