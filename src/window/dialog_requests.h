// The window's open and save dialogs: what each file command asks for (title,
// filter, default extension), and the small interface through which a face
// shows the dialog (or a test answers it from a script).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "window/command_bindings.h"

namespace tolv {

// Everything a command sets on its dialog before showing it. Each command
// builds a fresh request, so nothing of one command (title, filter, default
// extension, chosen name) carries over to the next.
struct FileDialogRequest {
  // Open and Save choose a file; Folder an existing folder (the dialog may
  // let the user make a new one), without filter or extension.
  enum class Kind { Open, Save, Folder };
  Kind kind = Kind::Open;
  // Appended (after a dot) by the dialog when the user typed a name without
  // an extension, e.g. "std".
  std::string defaultExtension;
  std::string title;
  // Pairs of display name and pattern list separated by "|", the way the
  // filters are written down: "Topfield STD (*.std)|*.std|All files|*.*".
  std::string filter;
  bool operator==(const FileDialogRequest&) const = default;
};

class FileDialogs {
 public:
  virtual ~FileDialogs() = default;

  // Shows the dialog modally. Returns the chosen full file name (directory,
  // name and extension, UTF-8), or "" when the user cancelled. An open dialog
  // does not require the file to exist and a save dialog does not ask before
  // an existing file is replaced: the operation given the name decides. No
  // initial folder is set; read-only files are hidden.
  virtual std::string Choose(const FileDialogRequest& request) = 0;
};

// The dialog of a file command: the open dialog for the loads, the save
// dialog for the saves, each with its title, filter and default extension;
// nothing for a command without a dialog.
std::optional<FileDialogRequest> DialogRequestFor(CommandId command);

// One display name of a filter with its patterns as written ("*.std";
// several are separated by ";").
struct FilterPair {
  std::string displayName;
  std::string patterns;
  bool operator==(const FilterPair&) const = default;
};

// The pairs of a "Name|patterns|Name|patterns" filter, in order. A trailing
// display name without patterns is dropped; "" gives none.
std::vector<FilterPair> FilterPairs(const std::string& filter);

}  // namespace tolv
