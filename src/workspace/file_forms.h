// The file forms, one row each: extension, load, save, when the save is
// refused, the dialog filter and what an inspection calls such a file. The
// window's dialogs and the command line's file names both follow this table;
// a new form is one more row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

enum class FileFormId : uint8_t { Std, FlashDump, Tfd, FlashBlocks, ComponentBin };

struct FileForm {
  FileFormId id;
  const char* extension;  // lower case, without the dot: "std"
  // The dialogs' filter: display name and patterns, separated by "|".
  const char* filter;
  // The form an inspection gives such a file: "STD file" (a component BIN's
  // is its component's name before "BIN": "Loader BIN").
  const char* inspectedAs;
  // Whether a plain NAME.<extension> on the command line stands for this form
  // (a component BIN or a block file is named with KIND= or block=).
  bool namedByExtension;
  // Loads path into the workspace; nullptr when a load needs more than a path
  // (a component BIN needs its kind).
  Outcome (*load)(Workspace& workspace, const std::string& path, UserInteraction& ui);
  // Saves the workspace to path; nullptr when the save needs more than a path.
  Outcome (*save)(Workspace& workspace, const std::string& path, UserInteraction& ui);
  // Why the save is not offered now, or nothing; nullptr when always offered.
  std::optional<std::string> (*saveRefusal)(const Workspace& workspace);
  // The name the save writes for path, or nullptr when it writes path itself.
  std::string (*outputName)(const std::string& path);
};

// Every form: first those named by extension, in the order the command line
// lists them.
const std::vector<FileForm>& FileForms();
const FileForm& FileFormOf(FileFormId id);

// The form named by extension whose extension the file name has (any case),
// or nullptr.
const FileForm* FindFileForm(const std::string& path);

// Lower-case extension of path (FileName_Split), "" when none.
std::string LowerExtension(const std::string& path);

}  // namespace tolv
