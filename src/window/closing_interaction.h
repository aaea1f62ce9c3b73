// What a transfer asks the user while the window is closing: nothing. The
// window hands this to the transfer workflows in place of its own
// UserInteraction; once the window has been told to close (Exit, or the
// window's close button, during a transfer), questions are answered No
// without being shown, so that the cancelled transfer winds down (closing the
// link and the log) without offering to reboot the receiver. Until then
// everything passes through unchanged.
#pragma once

#include <string>

#include "workspace/user_interaction.h"

namespace tolv {

class ClosingInteraction : public UserInteraction {
 public:
  // inner and closing must outlive this object; closing is read at each call.
  ClosingInteraction(UserInteraction& inner, const bool& closing) : inner_(inner), closing_(closing) {}

  void Information(const std::string& text) override { inner_.Information(text); }
  void Message(const std::string& text) override { inner_.Message(text); }
  void Notice(const std::string& text) override { inner_.Notice(text); }
  bool Question(const std::string& text) override { return !closing_ && inner_.Question(text); }
  // Keeps No as the default button of a question whose Yes may harm the
  // receiver's data.
  bool QuestionDefaultNo(const std::string& text) override {
    return !closing_ && inner_.QuestionDefaultNo(text);
  }
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override {
    return closing_ ? preset : inner_.InputText(caption, prompt, preset);
  }

 private:
  UserInteraction& inner_;
  const bool& closing_;
};

}  // namespace tolv
