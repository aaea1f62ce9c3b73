// Message boxes and the input box of the Windows window.
#include "ui/win32/win32_interaction.h"

#include "common/windows_text.h"
#include "ui/win32/input_box.h"

namespace tolv::win32 {

int ShowMessageBox(HWND owner, const std::string& text, UINT style) {
  return MessageBoxW(owner, Utf8ToWide(text).c_str(), kMessageCaption,
                     style | MB_TASKMODAL | MB_SETFOREGROUND);
}

void Win32Interaction::Information(const std::string& text) {
  ShowMessageBox(owner_, text, MB_OK | MB_ICONINFORMATION);
}

void Win32Interaction::Message(const std::string& text) { ShowMessageBox(owner_, text, MB_OK); }

bool Win32Interaction::Question(const std::string& text) {
  return ShowMessageBox(owner_, text, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool Win32Interaction::QuestionDefaultNo(const std::string& text) {
  return ShowMessageBox(owner_, text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::string Win32Interaction::InputText(const std::string& caption, const std::string& prompt,
                                        const std::string& preset) {
  const std::optional<std::wstring> text =
      ShowInputBox(owner_, Utf8ToWide(caption), Utf8ToWide(prompt), Utf8ToWide(preset));
  return text ? WideToUtf8(*text) : preset;
}

}  // namespace tolv::win32
