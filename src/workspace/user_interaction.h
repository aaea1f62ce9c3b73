// The one way the window-layer commands speak to the user. The window shows
// message boxes (caption "TolvPack"), the command-line tool prints to standard
// error and answers questions from its options, tests answer from a script;
// all of them run the very same commands.
#pragma once

#include <string>

namespace tolv {

class UserInteraction {
 public:
  virtual ~UserInteraction() = default;

  // A notice or failure (information icon, OK button).
  virtual void Information(const std::string& text) = 0;

  // A plain message without icon (OK button).
  virtual void Message(const std::string& text) = 0;

  // A notice that reports no failure: the command did what was asked, and
  // the user should know something about it (a wrong checksum over data
  // that were proven sound). The window shows it as Information does; the
  // command line prints it without counting it as a failure.
  virtual void Notice(const std::string& text) { Information(text); }

  // A Yes/No question (question icon); true for Yes.
  virtual bool Question(const std::string& text) = 0;

  // The same with No as the default answer, for a question whose Yes may
  // harm the receiver's data (an image for another model). The window makes
  // No its default button, the command line answers it from an option of
  // its own; by default it is an ordinary question.
  virtual bool QuestionDefaultNo(const std::string& text) { return Question(text); }

  // A text input box with caption, prompt and preset text; returns the text
  // entered, or the preset when the user cancels.
  virtual std::string InputText(const std::string& caption, const std::string& prompt,
                                const std::string& preset) = 0;
};

// Shows nothing, answers every question No and every input box with its
// preset: for runs without anybody to ask (fuzzing, batch checks).
class SilentInteraction : public UserInteraction {
 public:
  void Information(const std::string&) override {}
  void Message(const std::string&) override {}
  bool Question(const std::string&) override { return false; }
  std::string InputText(const std::string&, const std::string&, const std::string& preset) override {
    return preset;
  }
};

}  // namespace tolv
