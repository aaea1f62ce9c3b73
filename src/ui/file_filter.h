// The toolkit's side of the window's open and save dialogs (their requests
// and interface are the window model's: window/dialog_requests.h).
#pragma once

#include <string>
#include <vector>

#include "window/dialog_requests.h"

namespace tolv {

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
