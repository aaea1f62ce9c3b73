// The fault soak's own parts: the verdict on known outcomes, the plans drawn
// from seeds, the bytes of a run, and the whole soak against an emulator
// that garbles data, which it must class as silent corruption.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "random_faults.h"
#include "soak_data.h"
#include "soak_plan.h"
#include "soak_verdict.h"
#include "test_support.h"

namespace tolv::soak {
namespace {

using test::BuildBinDir;
using test::ProgramRun;
using test::RunProgram;
using test::TempDir;

using State = ItemCheck::State;

RunFacts Exited(int status, std::initializer_list<State> states, bool allOrNothing = false) {
  RunFacts facts;
  facts.status = status;
  facts.allOrNothing = allOrNothing;
  int n = 0;
  for (State state : states) facts.items.push_back({"item" + std::to_string(n++), state, "its detail"});
  return facts;
}

TEST(SoakVerdict, KnownOutcomesGetTheirClass) {
  const struct {
    RunFacts facts;
    Verdict verdict;
  } cases[] = {
      {Exited(0, {State::kNew, State::kEither}), Verdict::kCorrect},
      {Exited(0, {State::kNew, State::kWrong}), Verdict::kSilentCorruption},
      {Exited(0, {State::kWrong, State::kOld}), Verdict::kSilentCorruption},  // the worse one is told
      {Exited(0, {State::kNew, State::kOld}), Verdict::kFalseSuccess},
      {Exited(0, {State::kOld}, true), Verdict::kFalseSuccess},  // an upload the receiver never took
      {Exited(1, {State::kOld, State::kOld}), Verdict::kClearFailure},
      {Exited(1, {State::kNew, State::kOld}), Verdict::kClearFailure},   // a download writes what arrived
      {Exited(1, {State::kNew, State::kOld}, true), Verdict::kUnclean},  // an upload taken in part
      {Exited(1, {State::kNew, State::kNew}, true), Verdict::kClearFailure},
      {Exited(1, {State::kWrong}), Verdict::kUnclean},  // not of full size: half-written
      {Exited(2, {State::kNew}), Verdict::kCrash},
  };
  for (const auto& c : cases)
    EXPECT_EQ(VerdictName(c.verdict), std::string(VerdictName(Judge(c.facts).verdict)));

  RunFacts litter = Exited(0, {State::kNew});
  litter.litter = {"out/.tolv-save-1234"};
  EXPECT_EQ(Verdict::kUnclean, Judge(litter).verdict);
  EXPECT_NE(std::string::npos, Judge(litter).reason.find(".tolv-save-1234"));
  litter.status = 1;
  EXPECT_EQ(Verdict::kUnclean, Judge(litter).verdict);
  RunFacts ended = Exited(0, {State::kNew});
  ended.end = RunFacts::End::kSignalled;
  ended.status = 11;
  EXPECT_EQ(Verdict::kCrash, Judge(ended).verdict);
  ended.end = RunFacts::End::kKilledAfterBound;
  EXPECT_EQ(Verdict::kHang, Judge(ended).verdict);
  // Wrong bytes in a file of its full size, after exit 1: written as arrived.
  RunFacts written = Exited(1, {State::kNew, State::kWrong, State::kOld});
  written.items[1].fullSize = true;
  EXPECT_EQ(Verdict::kSilentCorruption, Judge(written).verdict);
  const Judgement wrong = Judge(Exited(0, {State::kNew, State::kWrong}));
  EXPECT_EQ("exit 0, but item1: its detail", wrong.reason);
}

TEST(SoakVerdict, AClearFailureIsClassedByItsFirstCause) {
  const struct {
    FailureEvidence evidence;
    FailureCause cause;
  } cases[] = {
      {{}, FailureCause::kOther},
      {{.cablePulled = true, .interrupted = true, .silentPastTimeout = true}, FailureCause::kCablePulled},
      {{.interrupted = true, .silentPastTimeout = true}, FailureCause::kInterrupted},
      {{.silentPastTimeout = true}, FailureCause::kSilentPastTimeout},
  };
  for (const auto& c : cases) EXPECT_STREQ(CauseName(c.cause), CauseName(ClassifyFailure(c.evidence)));
}

TEST(SoakVerdict, AnItemIsNewOldEitherOrWrongByItsBytes) {
  const Contents absent, old{true, {1, 2, 3, 4}}, fresh{true, {1, 9, 3, 9}};
  EXPECT_EQ(State::kOld, CheckItem("f", absent, absent, fresh).state);
  EXPECT_EQ(State::kOld, CheckItem("f", old, old, fresh).state);
  EXPECT_EQ(State::kNew, CheckItem("f", fresh, absent, fresh).state);
  EXPECT_EQ(State::kEither, CheckItem("f", fresh, fresh, fresh).state);
  const ItemCheck lost = CheckItem("f", absent, old, fresh);
  EXPECT_EQ(State::kWrong, lost.state);
  EXPECT_EQ("missing", lost.detail);
  EXPECT_EQ("3 bytes instead of 4", CheckItem("f", Contents{true, {1, 9, 3}}, old, fresh).detail);
  EXPECT_FALSE(CheckItem("f", Contents{true, {1, 9, 3}}, old, fresh).fullSize);
  EXPECT_TRUE(CheckItem("f", Contents{true, {0, 9, 3, 0}}, old, fresh).fullSize);
  EXPECT_EQ("2 of 4 bytes wrong, the first at 0x0",
            CheckItem("f", Contents{true, {0, 9, 3, 0}}, old, fresh).detail);
}

TEST(SoakPlan, ASeedGivesOneRunAndThePlansKeepTheirBounds) {
  SoakProfile profile;
  profile.numberings = {"echo", "own", "newest", "none"};
  std::set<std::string> seen;
  std::set<std::string> repeatsByNumbering;
  for (uint64_t seed = 1; seed <= 3000; ++seed) {
    const RunPlan plan = MakePlan(seed * 0x9E3779B97F4A7C15ull, profile);
    const std::string text = DescribePlan(plan);
    ASSERT_EQ(text, DescribePlan(MakePlan(plan.seed, profile))) << "replay";
    seen.insert(text.substr(0, text.find(' ', text.find(' ') + 1)));  // "pty@57600 upload"
    ASSERT_FALSE(plan.parts.empty()) << text;
    ASSERT_TRUE(std::is_sorted(plan.parts.begin(), plan.parts.end())) << text;
    ASSERT_TRUE(plan.direction == Direction::Upload || plan.parts.back() != 5) << "never fetched: " << text;
    ASSERT_TRUE(plan.direction == Direction::Download || plan.parts != std::vector<int>{4}) << text;
    const FaultPlan& f = plan.faults;
    for (double chance :
         {f.drop, f.corrupt, f.late, f.slow, f.junk, f.duplicate, f.duplicateLate, f.overtake})
      ASSERT_TRUE(chance >= 0 && chance <= 25) << text;
    const bool repeats = f.duplicate + f.duplicateLate + f.overtake > 0;
    ASSERT_TRUE(plan.direction == Direction::Download || !repeats) << "downloads only: " << text;
    if (f.duplicate > 0 && f.duplicateLate > 0 && f.overtake > 0) repeatsByNumbering.insert(plan.numbering);
    ASSERT_TRUE(plan.transport == Transport::Pty || plan.faults.junk == 0) << "serial only: " << text;
    ASSERT_LT(plan.faults.unplugAfter, std::max(1, plan.packets)) << text;
    ASSERT_GT(plan.expectedSeconds, 1.0) << text;
    // A paced line carries about profile.lineSeconds of data.
    ASSERT_TRUE(plan.baud == 0 ||
                static_cast<double>(plan.firmwareSize) * 0.35 <= plan.baud / 10.0 * profile.lineSeconds)
        << text;
    // The emulator reads the chances the plan describes.
    const std::vector<std::string> args = EmulatorFaultArgs(plan, profile);
    const auto list = std::find(args.begin(), args.end(), "--random-faults");
    const sim::RandomFaultChances read =
        list == args.end() ? sim::RandomFaultChances{} : sim::ParseRandomFaults(*(list + 1));
    ASSERT_EQ(plan.faults.drop, read.drop) << text;
    ASSERT_EQ(plan.faults.late, read.late) << text;
    ASSERT_EQ(plan.faults.junk, read.junk) << text;
    ASSERT_EQ(f.duplicate, read.duplicate) << text;
    ASSERT_EQ(f.duplicateLate, read.duplicateLate) << text;
    ASSERT_EQ(f.overtake, read.overtake) << text;
  }
  // Replies that come twice or overtake one another, with every numbering.
  EXPECT_EQ(4u, repeatsByNumbering.size());
  // Every transport and line, both directions.
  for (const char* kind : {"pty download", "pty upload", "pty@115200 download", "pty@57600 upload",
                           "usb download", "usb upload"})
    EXPECT_TRUE(seen.count(kind)) << kind;
  profile.maxFaults = 7;
  EXPECT_NE(DescribePlan(MakePlan(12345, SoakProfile{})), DescribePlan(MakePlan(12345, profile)));
}

TEST(SoakPlan, ASabotagedRunGarblesALoaderDownload) {
  SoakProfile profile;
  profile.sabotage = true;
  for (uint64_t seed = 0; seed < 50; ++seed) {
    const RunPlan plan = MakePlan(seed, profile);
    EXPECT_EQ(Direction::Download, plan.direction);
    EXPECT_EQ(std::vector<int>{0}, plan.parts);
    EXPECT_EQ(0, plan.faults.drop + plan.faults.late + plan.faults.corrupt);
    EXPECT_GT(plan.faults.garbleEvery, 0);
  }
}

TEST(SoakData, ARunMovesDataOfItsOwnThatCanBeToldFromWhatTheReceiverHeld) {
  SoakProfile profile;
  int uploads = 0;
  for (uint64_t seed = 1; uploads < 4; ++seed) {
    const RunPlan plan = MakePlan(seed * 7919, profile);
    const RunBytes bytes = MakeRunBytes(plan);
    ASSERT_EQ(plan.parts.size(), bytes.files.size());
    const std::vector<uint8_t> settings = ComponentFile(bytes.start, 2);
    EXPECT_NE(0, Flash_RecogniseLayout(settings.data(), settings.size()));
    for (const ChecksumCheck& check : Flash_CheckSectionChecksums(
             settings.data(), settings.size(),
             Layout_Sections(Flash_RecogniseLayout(settings.data(), settings.size()))))
      EXPECT_TRUE(check.Ok());
    for (const ChecksumCheck& check :
         Eeprom_CheckChecksums(bytes.start.eeprom.data(), bytes.start.eeprom.size()))
      EXPECT_TRUE(check.Ok());
    if (plan.direction == Direction::Download) {
      for (const auto& [part, file] : bytes.files) EXPECT_EQ(ComponentFile(bytes.start, part), file) << part;
      continue;
    }
    ++uploads;
    bool told = false;
    for (const auto& [part, file] : bytes.files) {
      EXPECT_EQ(ComponentFile(bytes.after, part), file) << part;
      told = told || ComponentFile(bytes.start, part) != file;
    }
    EXPECT_TRUE(told) << DescribePlan(plan);
  }
}

TEST(SoakProgram, CatchesAnEmulatorThatGarblesDataAsSilentCorruption) {
  TempDir work;
  const ProgramRun run =
      RunProgram(BuildBinDir() + "/tolv-soak",
                 "--sabotage --runs 2 --seed 3 --transports pty --work " + work.path(), work.path());
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_NE(std::string::npos, run.out.find("The soak caught the garbled data.")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("silent corruption       2  100.0%")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("exit 0, but out/loader.bin: ")) << run.out;
}

// tolv-soak with a stand-in for tolv (beside the real toppy-sim) that
// misbehaves in a known way: each run must get that class.
TEST(SoakProgram, StandInsThatLieCrashOrLitterGetTheirClass) {
  const struct {
    const char* script;
    const char* verdict;
  } standIns[] = {
      {"exit 0", "false success"},
      {"mkdir -p out && echo half > out/.tolv-save-1 && exit 1", "unclean"},
      {"kill -SEGV $$", "crash"},
      {"exit 1", "clear failure (other)"},  // no cable pulled, no Ctrl-C, no late reply
  };
  for (const auto& standIn : standIns) {
    TempDir bin;
    std::filesystem::create_symlink(BuildBinDir() + "/toppy-sim", bin.File("toppy-sim"));
    const std::string script = std::string("#!/bin/sh\n") + standIn.script + "\n";
    test::WriteBytes(bin.File("tolv"), std::vector<uint8_t>(script.begin(), script.end()));
    std::filesystem::permissions(bin.File("tolv"), std::filesystem::perms::owner_all);
    const ProgramRun run = RunProgram(
        BuildBinDir() + "/tolv-soak",
        "--runs 2 --seed 9 --transports pty --bin " + bin.path() + " --work " + bin.File("work"), bin.path());
    const std::string verdict = std::string(standIn.verdict);
    EXPECT_NE(std::string::npos, run.out.find("->  " + verdict + "  ")) << run.out << run.err;
    EXPECT_EQ(std::string::npos, run.out.find("->  correct")) << run.out;
    const bool clear = verdict == "clear failure (other)";
    EXPECT_EQ(clear ? 0 : 1, run.status) << standIn.script;
    // The table gives the clear failures by cause.
    if (clear) {
      EXPECT_NE(std::string::npos, run.out.find("\n  other                 2 ")) << run.out;
    }
  }
}

}  // namespace
}  // namespace tolv::soak
