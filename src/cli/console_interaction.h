// UserInteraction for the command line: every message the window would show
// becomes one line on standard error, and questions are answered Yes by the
// --yes option or asked on the terminal. Whether a command failed is told by
// its outcome, not by what it printed.
#pragma once

#include <cstdio>
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
  // it become blanks): every message the window shows from a command is a
  // refusal or a failure, which the command's outcome also says.
  void Information(const std::string& text) override;
  void Message(const std::string& text) override;
  // Prints the text as Note does.
  void Notice(const std::string& text) override;
  // With --yes: prints "TEXT -> Yes" and answers Yes. Else, on a terminal:
  // prints "TEXT [y/N] " and reads one line; "y" or "yes" (any case) is Yes,
  // anything else (an empty line, the end of input) No, with the line
  // "Answered No: nothing more is done.": the command line asked for what the
  // answer refused, and the command's outcome (cancelled) ends the run.
  // Without a terminal nobody can answer: a line naming --yes, and the
  // answer No.
  bool Question(const std::string& text) override;
  // Returns the preset, as a cancelled box does: the command line sets the
  // SystemID with Workspace_SetSystemId, never through the box.
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override;

  // A line of the tool's own (a refusal the window would prevent by disabling
  // a control, a file error), printed like a message; the caller returns the
  // failure as its outcome.
  void Failure(const std::string& text);
  // A line that reports progress or a fact worth knowing.
  void Note(const std::string& text);

  bool answerYes() const { return answerYes_; }

 private:
  void PrintLine(const std::string& text);
  bool AskOnTerminal(const std::string& text);

  bool answerYes_;
  std::FILE* stream_;
  AnswerSource answers_;
};

// Prints "TEXT [y/N] " to stream and reads one line of input: "y" or "yes"
// (any case, blanks ignored) is Yes; anything else, an empty line and the end
// of input (which ends the prompt's line) are No.
bool AskYesNo(const std::string& text, std::FILE* input, std::FILE* stream);

}  // namespace tolv::cli
