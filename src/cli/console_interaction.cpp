// Messages and questions of the commands on the terminal.
#include "cli/console_interaction.h"

namespace tolv::cli {

ConsoleInteraction::ConsoleInteraction(bool answerYes, std::FILE* stream)
    : answerYes_(answerYes), stream_(stream) {}

void ConsoleInteraction::PrintLine(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stream_, "%s\n", line.c_str());
  std::fflush(stream_);
}

void ConsoleInteraction::Information(const std::string& text) {
  PrintLine(text);
  failureReported_ = true;
}

void ConsoleInteraction::Message(const std::string& text) {
  PrintLine(text);
  failureReported_ = true;
}

bool ConsoleInteraction::Question(const std::string& text) {
  PrintLine(text + (answerYes_ ? " -> Yes" : " -> No (--yes answers Yes)"));
  return answerYes_;
}

std::string ConsoleInteraction::InputText(const std::string&, const std::string&, const std::string& preset) {
  if (!nextInput_) return preset;
  std::string text = std::move(*nextInput_);
  nextInput_.reset();
  return text;
}

void ConsoleInteraction::Failure(const std::string& text) {
  PrintLine(text);
  failureReported_ = true;
}

void ConsoleInteraction::Note(const std::string& text) { PrintLine(text); }

}  // namespace tolv::cli
