// A text input box: caption, one line of prompt, an edit field and the
// buttons OK and Cancel, built at run time (no dialog resource needed).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tolv::win32 {

// Shows the box modally over owner (may be nullptr) with the edit field
// holding preset, all of it selected. Returns the field's text when the user
// pressed OK or Enter; nothing for Cancel, Escape or the close box. Throws
// std::runtime_error when the box cannot be created.
std::optional<std::wstring> ShowInputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                                         const std::wstring& preset);

}  // namespace tolv::win32
