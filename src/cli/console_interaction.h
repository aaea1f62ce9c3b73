// UserInteraction for the command line: every message the window would show
// becomes one line on standard error, questions are answered Yes by the
// --yes option or asked on the terminal, and the SystemID box is given its
// text by the --sysid step.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "workspace/user_interaction.h"

namespace tolv::cli {

// Where the answers to questions come from when --yes is not given.
struct AnswerSource {
  std::FILE* input = nullptr;  // a line is read from here for each question
  bool isTerminal = false;     // whether somebody is there to answer
};

// Standard input, and whether it is a terminal.
AnswerSource StandardInputAnswers();

class ConsoleInteraction : public UserInteraction {
 public:
  // Messages go to stream (standard error in the program). Questions are
  // answered Yes when answerYes; otherwise they are asked on answers when it
  // is a terminal, and fail when it is not (see Question).
  explicit ConsoleInteraction(bool answerYes, std::FILE* stream = stderr,
                              AnswerSource answers = StandardInputAnswers());

  // Information and Message print the text as one line (line breaks inside
  // it become blanks) and count as a reported failure: every message the
  // window shows from a command is a refusal or a failure.
  void Information(const std::string& text) override;
  void Message(const std::string& text) override;
  // Prints the text as Note does: not a failure.
  void Notice(const std::string& text) override;
  // With --yes: prints "TEXT -> Yes" and answers Yes. Else, on a terminal:
  // prints "TEXT [y/N] " and reads one line; "y" or "yes" (any case) is Yes,
  // anything else (an empty line, the end of input) No, which counts as a
  // reported failure: the command line asked for what the answer refused, so
  // nothing more is done. Without a terminal nobody can answer: the question
  // is a reported failure with a line naming --yes, and the answer No.
  bool Question(const std::string& text) override;
  // Returns the text set by SetNextInput (once), else the preset, as a
  // cancelled box does.
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override;

  void SetNextInput(std::string text) { nextInput_ = std::move(text); }
  // A line of the tool's own (a refusal the window would prevent by disabling
  // a control, a file error): printed like a message, counted as a failure.
  void Failure(const std::string& text);
  // A line that reports progress; not a failure.
  void Note(const std::string& text);

  bool failureReported() const { return failureReported_; }
  void ClearFailure() { failureReported_ = false; }
  bool answerYes() const { return answerYes_; }

 private:
  void PrintLine(const std::string& text);
  bool AskOnTerminal(const std::string& text);

  bool answerYes_;
  std::FILE* stream_;
  AnswerSource answers_;
  std::optional<std::string> nextInput_;
  bool failureReported_ = false;
};

}  // namespace tolv::cli
