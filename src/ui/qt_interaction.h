// The window's way of speaking to the user: message boxes with the caption
// "TolvPack" and no owner window, and the system ID input box.
#pragma once

#include <string>

#include "workspace/user_interaction.h"

namespace tolv {

class QtUserInteraction : public UserInteraction {
 public:
  // Information icon and an OK button.
  void Information(const std::string& text) override;
  // No icon, an OK button.
  void Message(const std::string& text) override;
  // Question icon, Yes and No buttons; true for Yes. Closing the box counts
  // as No.
  bool Question(const std::string& text) override;
  // The same with No as the default button.
  bool QuestionDefaultNo(const std::string& text) override;
  // A one-line text input; the preset text comes back when the user cancels.
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override;
};

}  // namespace tolv
