// The workspace commands that need no file: New, removing one component, the
// two copies between Flash/EEPROM and the Defaults, NULL Settings and the
// SystemID edit.
//
// Every command speaks to the user only through UserInteraction (questions
// with the exact texts below) and reports what it did, so that the window can
// follow with its own side effects (the status refresh, unchecking a Save
// check box). None of them can fail on the images: they work on fixed
// in-memory buffers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// Clears the workspace as "New" does: every presence flag false, SystemID 0,
// no layout variant. Image bytes, the Firmware array's length and the section
// table keep their values (nothing reads them while the flags are false);
// the section table no longer counts as belonging to the Flash image, and no
// model header stays kept.
void Workspace_Reset(Workspace& workspace);

// "New": asks "Unload all data?" and resets unless the answer is No. Returns
// true when the workspace was reset.
bool Workspace_New(Workspace& workspace, UserInteraction& ui);

// The question asked before a component is removed ("Unload loader?", ...).
const char* Workspace_UnloadQuestion(ComponentKind kind);

// Removes one component: nothing happens (and nothing is asked) when it is
// absent; otherwise asks its question and, on Yes, zero-fills the whole image
// (the Firmware over its current length, which stays) and clears the flag.
// SystemID and layout variant are not touched; once neither the Flash nor
// the Defaults is left, the kept model header is forgotten
// (Workspace_ForgetModelHeaderIfUnused). Returns true when the
// component was removed: the window then unchecks its Save check box.
bool Workspace_Unload(Workspace& workspace, ComponentKind kind, UserInteraction& ui);

// "Flash && EEPROM => Defaults": asks "Overwrite the existing defaults?" when
// the Defaults are present (No: nothing changes); copies Flash bytes
// 0..0x5FFFF to the Defaults' settings part and the EEPROM to the Defaults at
// 0x60000 and marks the Defaults present; the carried last 128 kB stay (zeros
// when the Defaults were absent).
// Returns true when the copy was made. The window offers the command only
// while Flash and EEPROM are both present; when either is absent nothing is
// asked or changed and the result is false.
bool Defaults_FromFlash(Workspace& workspace, UserInteraction& ui);

// "Defaults => Flash && EEPROM": asks "Overwrite the existing Flash/EEPROM?"
// when the Flash or the EEPROM is present (No: nothing changes); copies the
// Defaults' settings part over Flash bytes 0..0x5FFFF (the rest of the Flash
// stays; zeros when the Flash was absent) and the Defaults' EEPROM part over
// the EEPROM, and marks both
// present. The layout variant and section table are not re-derived; the
// table counts as the Flash's own only when the new contents pass that same
// layout's test. Returns true when the copy was made; false without a
// question when the Defaults are absent.
bool Defaults_ToFlash(Workspace& workspace, UserInteraction& ui);

// "NULL Settings": all 524,544 Defaults bytes zero, Defaults present. No
// question, whatever the Defaults held.
void Defaults_Null(Workspace& workspace);

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

// The SystemID edit: an input box with the caption "Tolv Pack", the prompt
// "Enter the targets SystemID." and the current SystemID in decimal as the
// preset ("0" when not set; a cancelled box gives the preset back). A value
// from 1 to 65535 becomes the SystemID; 0 changes nothing. Returns true when
// the SystemID was stored. Throws SystemIdTextError, leaving the SystemID
// unchanged, when the text is not a SystemID (SystemId_Parse).
bool SysID_Edit(Workspace& workspace, UserInteraction& ui);

}  // namespace tolv
