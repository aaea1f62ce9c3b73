// The window's UserInteraction on Windows: message boxes and the SystemID
// input box.
//
// Message boxes have the caption "TolvPack": notices and failures with the
// information icon and an OK button, questions with the question icon and Yes
// and No. They belong to the window given by SetOwner, so that the window is
// active again (and takes keys) once a box is answered, and are task-modal:
// no window of the program takes clicks while a box waits for its answer (a
// second command would otherwise start inside the first). The input box
// belongs to the same window and is modal to it.
#pragma once

#include <windows.h>

#include <string>

#include "workspace/user_interaction.h"

namespace tolv::win32 {

class Win32Interaction : public UserInteraction {
 public:
  // The window the boxes belong to; nullptr (the default) for none.
  void SetOwner(HWND owner) { owner_ = owner; }

  void Information(const std::string& text) override;
  void Message(const std::string& text) override;
  bool Question(const std::string& text) override;
  bool QuestionDefaultNo(const std::string& text) override;
  // A modal box with caption, prompt, an edit field holding preset and the
  // buttons OK and Cancel. Returns the edited text on OK (or Enter), preset on
  // Cancel, Escape or the close box.
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override;

 private:
  HWND owner_ = nullptr;
};

// The caption of every message box of the window.
inline constexpr const wchar_t* kMessageCaption = L"TolvPack";

// Shows text in a task-modal message box of owner (may be nullptr) captioned
// "TolvPack" with the given MB_* style bits (icon and buttons) and returns the
// button pressed (IDOK, IDYES, ...). text is UTF-8.
int ShowMessageBox(HWND owner, const std::string& text, UINT style);

}  // namespace tolv::win32
