// The window's open and save dialogs, behind a small interface so that every
// file command can be run by a script (tests) as well as by a person.
#pragma once

#include <string>
#include <vector>

namespace tolv {

// Everything a command sets on its dialog before showing it. Each command
// builds a fresh request, so nothing of one command (title, filter, default
// extension, chosen name) carries over to the next.
struct FileDialogRequest {
  enum class Kind { Open, Save };
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
  // name and extension), or "" when the user cancelled. An open dialog does
  // not require the file to exist and a save dialog does not ask before an
  // existing file is replaced: the operation given the name decides.
  virtual std::string Choose(const FileDialogRequest& request) = 0;
};

// One entry of a translated filter: the name the user sees and the wildcard
// patterns (separated by blanks) that the toolkit's dialog matches file names
// against.
struct NameFilter {
  std::string displayName;
  std::string patterns;
  bool operator==(const NameFilter&) const = default;
};

// Translates a "Name|patterns|Name|patterns" filter into entries that select
// the same files on this platform as on the system the filters were written
// for there, where names are matched without regard to case, "*.*" matches
// every name (also one without a dot), square brackets are ordinary
// characters and ";" separates patterns. A trailing display name without
// patterns is dropped; empty input gives no entries.
std::vector<NameFilter> TranslateFilter(const std::string& filter);

}  // namespace tolv
