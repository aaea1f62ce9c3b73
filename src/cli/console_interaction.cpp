// Messages and questions of the commands on the terminal.
#include "cli/console_interaction.h"

#include <unistd.h>

#include <cctype>

namespace tolv::cli {

AnswerSource StandardInputAnswers() { return {stdin, isatty(STDIN_FILENO) == 1}; }

ConsoleInteraction::ConsoleInteraction(bool answerYes, std::FILE* stream, AnswerSource answers)
    : answerYes_(answerYes), stream_(stream), answers_(answers) {}

void ConsoleInteraction::PrintLine(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stream_, "%s\n", line.c_str());
  std::fflush(stream_);
}

void ConsoleInteraction::Information(const std::string& text) { PrintLine(text); }

void ConsoleInteraction::Message(const std::string& text) { PrintLine(text); }

void ConsoleInteraction::Notice(const std::string& text) { Note(text); }

bool ConsoleInteraction::Question(const std::string& text) {
  if (answerYes_) {
    PrintLine(text + " -> Yes");
    return true;
  }
  if (answers_.isTerminal && answers_.input) return AskOnTerminal(text);
  Failure(text + " -> not answered: standard input is not a terminal; give --yes to answer Yes.");
  return false;
}

bool AskYesNo(const std::string& text, std::FILE* input, std::FILE* stream) {
  std::fprintf(stream, "%s [y/N] ", text.c_str());
  std::fflush(stream);
  std::string answer;
  int c;
  while ((c = std::fgetc(input)) != EOF && c != '\n') {
    if (!std::isspace(c)) answer += static_cast<char>(std::tolower(c));
  }
  // The end of input leaves the prompt's line open.
  if (c == EOF) std::fputc('\n', stream);
  return answer == "y" || answer == "yes";
}

bool ConsoleInteraction::AskOnTerminal(const std::string& text) {
  if (AskYesNo(text, answers_.input, stream_)) return true;
  Failure("Answered No: nothing more is done.");
  return false;
}

std::string ConsoleInteraction::InputText(const std::string&, const std::string&, const std::string& preset) {
  return preset;
}

void ConsoleInteraction::Failure(const std::string& text) { PrintLine(text); }

void ConsoleInteraction::Note(const std::string& text) { PrintLine(text); }

}  // namespace tolv::cli
