// The workspace commands that need no file: New, removing one component, the
// two copies between Flash/EEPROM and the Defaults, NULL Settings, and the
// SystemID's setter and input box.
//
// Every command speaks to the user only through UserInteraction (questions
// with the exact texts below) and returns its outcome, so that the window can
// follow with its own side effects (the status refresh, unchecking a Save
// check box) and the command line can tell whether to go on. None of them can
// fail on the images: they work on fixed in-memory buffers; an answer No
// cancels.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// Clears the workspace as "New" does: every presence flag false, SystemID 0,
// no layout variant. The Firmware array is emptied and its memory given back
// (a firmware may be very large); the other images' bytes and the section
// table keep their values (nothing reads them while the flags are false);
// the section table no longer counts as belonging to the Flash image, and no
// model header stays kept.
void Workspace_Reset(Workspace& workspace);

// "New": asks "Unload all data?" and resets unless the answer is No. Done
// when the workspace was reset; cancelled (the question as the reason) on No.
Outcome Workspace_New(Workspace& workspace, UserInteraction& ui);

// The question asked before a component is removed ("Unload loader?", ...).
const char* Workspace_UnloadQuestion(ComponentKind kind);

// Removes one component: nothing to do (and nothing asked) when it is
// absent; otherwise asks its question and, on Yes, zero-fills the whole image
// (the Firmware is emptied instead, its memory given back) and clears the flag.
// SystemID and layout variant are not touched; once neither the Flash nor
// the Defaults is left, the kept model header is forgotten
// (Workspace_ForgetModelHeaderIfUnused). Done when the component was
// removed (the window then unchecks its Save check box); cancelled on No.
Outcome Workspace_Unload(Workspace& workspace, ComponentKind kind, UserInteraction& ui);

// "Flash && EEPROM => Defaults": asks "Overwrite the existing defaults?" when
// the Defaults are present (No: nothing changes); copies Flash bytes
// 0..0x5FFFF to the Defaults' settings part and the EEPROM to the Defaults at
// 0x60000 and marks the Defaults present; the carried last 128 kB stay (zeros
// when the Defaults were absent).
// Done when the copy was made; cancelled on No. The window offers the
// command only while Flash and EEPROM are both present; when either is
// absent nothing is asked or changed: nothing to do.
Outcome Defaults_FromFlash(Workspace& workspace, UserInteraction& ui);

// "Defaults => Flash && EEPROM": asks "Overwrite the existing Flash/EEPROM?"
// when the Flash or the EEPROM is present (No: nothing changes); copies the
// Defaults' settings part over Flash bytes 0..0x5FFFF (the rest of the Flash
// stays; zeros when the Flash was absent) and the Defaults' EEPROM part over
// the EEPROM, and marks both
// present. The layout variant and section table are not re-derived; the
// table counts as the Flash's own only when the new contents pass that same
// layout's test. Section checksums of the Defaults that do not match are
// named in a notice, as a save would recompute them in the Flash. Done when
// the copy was made; cancelled on No; nothing to do, without a question,
// when the Defaults are absent.
Outcome Defaults_ToFlash(Workspace& workspace, UserInteraction& ui);

// "NULL Settings": all 524,544 Defaults bytes zero, Defaults present. No
// question, whatever the Defaults held. Always done.
Outcome Defaults_Null(Workspace& workspace);

// The largest SystemID: files, packed blocks and the link carry 16 bits.
inline constexpr int32_t kMaxSystemId = 65535;

// The SystemID text was not a whole number from 0 to kMaxSystemId. what() is a
// sentence for the user.
class SystemIdTextError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Reads a SystemID as typed by the user, in the SystemID box and after the
// command line's --sysid: optional blanks, an optional sign, then decimal
// digits (or hexadecimal after "$" or "0x"), optional blanks. Returns 0 to
// 65535 (0 is "not set"; what it means is the caller's). Throws
// SystemIdTextError for anything else: text that is not a whole number
// ("... enter a whole number from 1 to 65535.") and a number outside 0 to
// 65535 ("... a SystemID is a number from 1 to 65535."), such as 70000 or -1,
// which would otherwise reach a file as another model's number.
int32_t SystemId_Parse(const std::string& text);

// Sets the SystemID as the user gives it (the SystemID box, --sysid): a
// value from 1 to kMaxSystemId becomes the SystemID (done, also when it
// already was); 0 changes nothing (nothing to do: the SystemID cannot be
// cleared this way, New clears it). Any other value changes nothing and fails
// with "<value> is not a valid SystemID: a SystemID is a number from 1 to
// 65535."; nothing is shown (SystemId_Parse never gives such a value). Only
// the SystemID changes; the caller refreshes what shows it.
Outcome Workspace_SetSystemId(Workspace& workspace, int32_t systemId);

// The SystemID input box: caption "Tolv Pack", prompt "Enter the targets
// SystemID." and the current SystemID in decimal as the preset ("0" when not
// set; a cancelled box gives the preset back). The text is read by
// SystemId_Parse and given to Workspace_SetSystemId, whose outcome this is
// (a cancelled box gives the preset back: done, or nothing to do for "0").
// Throws SystemIdTextError, leaving the SystemID unchanged, when the text is
// not a SystemID. The window's SystemID edit and the To Toppy workflow
// (UploadRequest::askForSystemId) show it; the command line never does.
Outcome SystemId_Ask(Workspace& workspace, UserInteraction& ui);

}  // namespace tolv
