// The window's UserInteraction on Windows: message boxes and the SystemID
// input box.
//
// Message boxes have no owner window and the caption "TolvPack": notices and
// failures with the information icon and an OK button, questions with the
// question icon and Yes and No. They are task-modal, so that the window, left
// without an owner relation, still takes no clicks while a box waits for its
// answer (a second command would otherwise start inside the first). The
// input box belongs to the window given by SetOwner and is modal to it.
#pragma once

#include <windows.h>

#include <string>

#include "workspace/user_interaction.h"

namespace tolv::win32 {

class Win32Interaction : public UserInteraction {
 public:
  // The window the input box is modal to; nullptr (the default) for none.
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

// Shows text in an owner-less message box captioned "TolvPack" with the given
// MB_* style bits (icon and buttons) and returns the button pressed (IDOK,
// IDYES, ...). text is UTF-8.
int ShowMessageBox(const std::string& text, UINT style);

}  // namespace tolv::win32
