// The command-line steps in-process: parsing, the stop after a failure, and
// how messages and questions reach the terminal.
#include "cli/steps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <tuple>

#include "cli/cli_command.h"
#include "common/file_io.h"
#include "test_support.h"
#include "workspace/json_text.h"

namespace tolv::cli {
namespace {

std::vector<StepRole> Roles(const std::vector<std::string>& args) {
  std::vector<StepRole> roles;
  for (const Step& step : ParseSteps(args, StepSyntax{})) roles.push_back(step.role);
  return roles;
}

// What a ConsoleInteraction printed.
class CapturedConsole {
 public:
  // Without a terminal unless answers are given: then they are typed on one.
  explicit CapturedConsole(bool yes, std::optional<std::string> typed = std::nullopt)
      : file_(std::tmpfile()), input_(std::tmpfile()), ui(yes, file_, {input_, typed.has_value()}) {
    if (typed) std::fputs(typed->c_str(), input_);
    std::rewind(input_);
  }
  ~CapturedConsole() {
    std::fclose(file_);
    std::fclose(input_);
  }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) text.append(buf, n);
    return text;
  }

 private:
  std::FILE* file_;
  std::FILE* input_;

 public:
  ConsoleInteraction ui;
};

TEST(ParseComponentKind, WordsInAnyCaseAndSettingsForFlash) {
  EXPECT_EQ(ParseComponentKind("loader"), ComponentKind::Loader);
  EXPECT_EQ(ParseComponentKind("FIRMWARE"), ComponentKind::Firmware);
  EXPECT_EQ(ParseComponentKind("Settings"), ComponentKind::Flash);
  EXPECT_EQ(ParseComponentKind("flash"), ComponentKind::Flash);
  EXPECT_EQ(ParseComponentKind("eeprom"), ComponentKind::Eeprom);
  EXPECT_EQ(ParseComponentKind("defaults"), ComponentKind::Defaults);
  EXPECT_EQ(ParseComponentKind("background"), ComponentKind::Background);
  EXPECT_FALSE(ParseComponentKind("block").has_value());
  EXPECT_FALSE(ParseComponentKind("").has_value());
  for (ComponentKind kind : kAllComponents) EXPECT_EQ(ParseComponentKind(ComponentWord(kind)), kind);
}

TEST(ParseSteps, EachArgumentBecomesItsStepInOrder) {
  using R = StepRole;
  EXPECT_EQ(Roles({"a.std", "B.DMP", "flash=f.bin", "Settings=g.bin", "block=x [05].bin", "my=box.std"}),
            (std::vector<R>{R::kInput, R::kInput, R::kInput, R::kInput, R::kInput, R::kInput}));
  EXPECT_EQ(Roles({"--sysid", "406", "--flash-to-defaults", "--defaults-to-flash", "--null-defaults",
                   "--remove", "EEPROM"}),
            (std::vector<R>{R::kOperation, R::kOperation, R::kOperation, R::kOperation, R::kOperation}));
  EXPECT_EQ(Roles({"-o", "x.STD", "-o", "y.dmp", "-o", "loader=l.bin", "-o", "blocks=b.bin", "-o", "dir/",
                   "--output", "z.std", "-oq.dmp"}),
            (std::vector<R>(7, R::kOutput)));
  std::vector<Step> steps = ParseSteps({"--remove", "settings", "-o", "out/"}, StepSyntax{});
  EXPECT_EQ(steps[0].text, "--remove flash");
  EXPECT_EQ(steps[1].text, "-o out/");
}

TEST(ParseSteps, MalformedStepsAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"-o"},          {"--sysid"},     {"--remove"},     {"--remove", "gizmo"},
      {"notes.txt"},   {"noextension"}, {"flash="},       {"-o", "flash="},
      {"-o", "x.bin"}, {"-o", ""},      {"--frobnicate"}, {"-o", "gizmo=x.bin"},
      {"gizmo=x.bin"}};
  for (const auto& args : bad) EXPECT_THROW(ParseSteps(args, StepSyntax{}), UsageError) << args[0];
}

TEST(ParseStep, LeavesUnknownOptionsToTheCallerAndHonoursTheSyntax) {
  std::vector<std::string> args = {"--port", "USB", "-o", "x.std"};
  size_t index = 0;
  EXPECT_FALSE(ParseStep(args, index, StepSyntax{}).has_value());
  EXPECT_EQ(index, 0u);
  index = 2;
  ASSERT_TRUE(ParseStep(args, index, StepSyntax{}).has_value());
  EXPECT_EQ(index, 4u);
  StepSyntax outputsOnly{false, false, true};
  EXPECT_THROW(ParseSteps({"a.std"}, outputsOnly), UsageError);
  EXPECT_THROW(ParseSteps({"--null-defaults"}, outputsOnly), UsageError);
  StepSyntax inputsOnly{true, false, false};
  EXPECT_THROW(ParseSteps({"-o", "a.std"}, inputsOnly), UsageError);
}

TEST(RunSteps, AFailedOrCancelledStepStopsEveryLaterStep) {
  int ran = 0;
  auto counting = [&ran](Workspace&, ConsoleInteraction&) {
    ++ran;
    return Outcome::Done();
  };
  auto nothing = [](Workspace&, ConsoleInteraction&) { return Outcome::NothingToDo(); };
  const Step failing = {StepRole::kOperation, "shows a message", [](Workspace&, ConsoleInteraction& ui) {
                          ui.Information("Invalid file size (<>64kB)");
                          return Outcome::Failed("Invalid file size (<>64kB)");
                        }};
  const Step refused = {StepRole::kOperation, "--remove flash",
                        [](Workspace&, ConsoleInteraction&) { return Outcome::Cancelled("Unload flash?"); }};
  const std::tuple<Step, Outcome, int> stops[] = {
      {failing, Outcome::Failed("Invalid file size (<>64kB)"), kExitFailure},
      {refused, Outcome::Cancelled("Unload flash?"), kExitCancelled}};
  for (const auto& [stop, expected, status] : stops) {
    CapturedConsole console(false);
    Workspace ws;
    ran = 0;
    const std::vector<Step> steps = {{StepRole::kInput, "first", counting},
                                     {StepRole::kOperation, "--remove loader", nothing},
                                     stop,
                                     {StepRole::kOutput, "-o never", counting}};
    const Outcome outcome = RunSteps(steps, ws, console.ui);
    EXPECT_EQ(outcome, expected) << stop.text;
    EXPECT_EQ(ExitStatus(outcome), status);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(console.Text().ends_with("tolv: stopped at \"" + stop.text +
                                         "\"; the steps after it were not run.\n"))
        << console.Text();
  }
  // Done and nothing to do go on to the end.
  CapturedConsole console(false);
  Workspace ws;
  ran = 0;
  const Outcome outcome = RunSteps({{StepRole::kInput, "a", counting},
                                    {StepRole::kOperation, "b", nothing},
                                    {StepRole::kOutput, "c", counting}},
                                   ws, console.ui);
  EXPECT_EQ(outcome, Outcome::Done());
  EXPECT_EQ(ExitStatus(outcome), kExitOk);
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(console.Text(), "");
}

TEST(RunSteps, ExceptionsAreReportedAndStopTheRun) {
  CapturedConsole console(false);
  Workspace ws;
  std::vector<Step> steps = {{StepRole::kInput, "x.std",
                              [](Workspace&, ConsoleInteraction&) -> Outcome {
                                throw FileError("Cannot open file \"x.std\": gone");
                              }},
                             {StepRole::kOutput, "-o y.dmp", [](Workspace&, ConsoleInteraction&) -> Outcome {
                                throw std::logic_error("ran");
                              }}};
  EXPECT_EQ(RunSteps(steps, ws, console.ui), Outcome::Failed("Cannot open file \"x.std\": gone"));
  EXPECT_EQ(console.Text(),
            "Cannot open file \"x.std\": gone\n"
            "tolv: stopped at \"x.std\"; the steps after it were not run.\n");
}

TEST(JsonString, ValidUtf8StaysAndEveryOtherByteIsReplaced) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain \"q\" \\", "\"plain \\\"q\\\" \\\\\""},
      {"tab\tdel\x7F", "\"tab\\u0009del\\u007f\""},
      {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", "\"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\""},
      {"\xE9t\xE9", "\"\\ufffdt\\ufffd\""},                      // Latin-1
      {"\xC0\x80", "\"\\ufffd\\ufffd\""},                        // overlong
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},             // surrogate
      {"\xE6\x97", "\"\\ufffd\\ufffd\""},                        // cut short
      {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(JsonString(text), json) << json;
  EXPECT_EQ(PrintableName("plain \xE9.std"), "plain \xE9.std");
  EXPECT_EQ(PrintableName("a\nb\x01\"c\\"), "\"a\\nb\\x01\\\"c\\\\\"");
}

TEST(ParseSteps, AfterTheEndOfTheOptionsEveryArgumentIsAnInput) {
  EXPECT_EQ(Roles({"--sysid", "406", "--", "-odd.std", "--x.dmp"}),
            (std::vector<StepRole>{StepRole::kOperation, StepRole::kInput, StepRole::kInput}));
  EXPECT_THROW(ParseSteps({"--", "-o"}, StepSyntax{}), UsageError);
  EXPECT_THROW(ParseSteps({"--", "a.std"}, StepSyntax{false, false, true}), UsageError);
}

// A save into a folder that fails leaves none of the folders it made.
TEST(RunSteps, AFailedFolderSaveRemovesTheFoldersItMade) {
  test::TempDir work;
  test::WriteBytes(work.File("eeprom.bin"), std::vector<uint8_t>(256, 7));
  for (const char* folder : {"new/", "new/deeper/"}) {
    CapturedConsole console(false);
    Workspace ws;
    testing::FailWritesAfter(0);
    const Outcome outcome =
        RunSteps(ParseSteps({"eeprom=" + work.File("eeprom.bin"), "-o", work.File(folder)}, StepSyntax{}), ws,
                 console.ui);
    testing::FailWritesAfter(std::nullopt);
    EXPECT_FALSE(outcome) << folder;
    EXPECT_FALSE(test::Exists(work.File("new"))) << folder;
  }
}

TEST(RunSteps, SysidSetsTheSystemIdWithoutTheBoxAndZeroLeavesIt) {
  CapturedConsole console(false);
  Workspace ws;
  EXPECT_EQ(RunSteps(ParseSteps({"--sysid", "$196", "--sysid", "0"}, StepSyntax{}), ws, console.ui),
            Outcome::Done());
  EXPECT_EQ(ws.systemId, 406);
  EXPECT_EQ(console.Text(), "");
}

TEST(ConsoleInteraction, QuestionsShowTheirAnswerAndMessagesStayOnOneLine) {
  CapturedConsole no(false);
  EXPECT_FALSE(no.ui.Question("Unload all data?"));
  no.ui.Information("two\nlines");
  EXPECT_EQ(no.Text(),
            "Unload all data? -> not answered: standard input is not a terminal; give --yes to answer Yes.\n"
            "two lines\n");
  CapturedConsole yes(true);
  EXPECT_TRUE(yes.ui.Question("Unload flash?"));
  EXPECT_EQ(yes.Text(), "Unload flash? -> Yes\n");
  // Nobody types into a box on the command line: it gives its preset back.
  EXPECT_EQ(yes.ui.InputText("Tolv Pack", "Enter the targets SystemID.", "0"), "0");
}

TEST(ConsoleInteraction, OnATerminalTheQuestionIsAskedAndOnlyYesGoesOn) {
  CapturedConsole typed(false, " Y\nyes\n\nn\n");
  EXPECT_TRUE(typed.ui.Question("Unload flash?"));
  EXPECT_TRUE(typed.ui.Question("Unload EEPROM?"));
  EXPECT_FALSE(typed.ui.Question("Overwrite the existing defaults?"));  // an empty line: No
  EXPECT_FALSE(typed.ui.Question("Unload loader?"));
  EXPECT_FALSE(typed.ui.Question("Unload firmware?"));  // the end of input: No
  EXPECT_EQ(typed.Text(),
            "Unload flash? [y/N] Unload EEPROM? [y/N] "
            "Overwrite the existing defaults? [y/N] Answered No: nothing more is done.\n"
            "Unload loader? [y/N] Answered No: nothing more is done.\n"
            "Unload firmware? [y/N] \nAnswered No: nothing more is done.\n");
}

// Every command gives its exit status by this one mapping; a script tells
// the causes apart by it.
TEST(ExitStatus, EachOutcomeHasItsOwnStatus) {
  const std::pair<Outcome, int> cases[] = {
      {Outcome::Done(), 0},
      {Outcome::NothingToDo(), 0},
      {Outcome::Failed("x"), 1},
      {Outcome::Failed("x", FailureCause::kOther), 1},
      {Outcome::Failed("x", FailureCause::kNotReached), 3},
      {Outcome::Failed("x", FailureCause::kReadBackDiffers), 4},
      {Outcome::Failed("x", FailureCause::kInputRefused), 5},
      {Outcome::Failed("x", FailureCause::kBadArgument), 2},
      {Outcome::Cancelled("x"), 130},
      // A cancel after a failure is still the failure; a cause survives a merge.
      {Outcome::Failed("x", FailureCause::kNotReached).Merge(Outcome::Cancelled("y")), 3},
      {Outcome::Done().Merge(Outcome::Failed("x", FailureCause::kReadBackDiffers)), 4},
  };
  for (const auto& [outcome, status] : cases) EXPECT_EQ(ExitStatus(outcome), status) << outcome.Text();
}

}  // namespace
}  // namespace tolv::cli
