// What tolv does to the files it replaces, end to end: several files all or
// none, write-protected files, two outputs naming one file, files of an
// earlier save named, folders whose names go beyond ASCII.
#include <gtest/gtest.h>

#include <filesystem>

#include "settings_backup_fixture.h"
#include "workspace/bin_files.h"

namespace tolv {
namespace {

namespace fs = std::filesystem;
using test::Contains;
using test::Lines;

class TolvOutputs : public test::SettingsBackupTest {
 protected:
  void SetUp() override {
    SettingsBackupTest::SetUp();
    Put("loader.bin", loader);
    ASSERT_EQ(Tolv("convert settings.std loader=loader.bin --sysid 406 -o all.tfd").status, 0);
  }
  // The files of an earlier backup in out/, which must survive a failed save.
  void PutOldBackup() {
    Put("out/loader.bin", {1});
    Put("out/eeprom.bin", {3});
  }
  void ExpectOldBackup() {
    EXPECT_EQ(test::ReadBytes(work.File("out/loader.bin")), std::vector<uint8_t>{1});
    EXPECT_EQ(test::ReadBytes(work.File("out/eeprom.bin")), std::vector<uint8_t>{3});
    for (const auto& entry : fs::directory_iterator(work.File("out")))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".tolv-")) << entry.path();
  }
  static void WriteProtect(const std::string& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  static bool WriteProtected(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
  }
  const std::vector<uint8_t> loader = test::RandomBytes(5, kLoaderImageSize);
};

TEST_F(TolvOutputs, AFolderSaveThatCannotReplaceOneFileReplacesNone) {
  PutOldBackup();
  fs::create_directories(work.File("out/flash.bin"));
  test::ProgramRun r = Tolv("convert all.tfd -o out/");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err)[0], "Cannot replace \"out/flash.bin\": it is a folder.");
  EXPECT_TRUE(r.out.empty());
  ExpectOldBackup();
}

TEST_F(TolvOutputs, AWriteProtectedFileIsReplacedOnlyWithForceAndStaysProtected) {
  PutOldBackup();
  WriteProtect(work.File("out/eeprom.bin"));
  for (const char* args : {"convert all.tfd -o out/", "convert all.tfd -o eeprom=out/eeprom.bin"}) {
    test::ProgramRun r = Tolv(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.err, "Cannot replace \"out/eeprom.bin\": the file is write-protected.\n") << args;
    ExpectOldBackup();
  }
  test::ProgramRun forced = Tolv("convert --force all.tfd -o out/");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(test::ReadBytes(work.File("out/loader.bin")), loader);
  EXPECT_EQ(test::ReadBytes(work.File("out/eeprom.bin")), ws.Image(ComponentKind::Eeprom));
  EXPECT_TRUE(WriteProtected(work.File("out/eeprom.bin")));
}

TEST_F(TolvOutputs, TwoOutputsNamingOneFileAreRefusedBeforeAnythingIsWritten) {
  const char* cases[] = {
      "convert all.tfd -o x.dmp -o flash=x.dmp", "convert all.tfd -o e/ -o eeprom=e/flash.bin",
      "convert all.tfd -o x.std -o eeprom=./x.std", "convert all.tfd -o blocks=b.bin -o 'flash=b [03].bin'"};
  for (const char* args : cases) {
    test::ProgramRun r = Tolv(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(Contains(r.err, "both write")) << r.err;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  EXPECT_EQ(
      Lines(Tolv("convert all.tfd -o x.dmp -o flash=x.dmp").err)[0],
      "tolv convert: \"-o x.dmp\" and \"-o flash=x.dmp\" both write \"x.dmp\"; give each output a file of "
      "its own (try 'tolv convert --help')");
  EXPECT_FALSE(test::Exists(work.File("x.dmp")));
  EXPECT_FALSE(test::Exists(work.File("e")));
}

// A folder load takes every KIND.bin in it: files of an earlier save that
// this one does not replace are named.
TEST_F(TolvOutputs, FilesOfAnEarlierSaveThatStayAreNamed) {
  Put("out/firmware.bin", {2});
  test::ProgramRun r = Tolv("convert all.tfd -o out/");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "out/firmware.bin is from before and was not replaced\n");
  EXPECT_EQ(Tolv("convert --yes all.tfd --remove loader -o out/").err,
            "Unload loader? -> Yes\n"
            "out/loader.bin is from before and was not replaced\n"
            "out/firmware.bin is from before and was not replaced\n");

  // Blocks of DVB-s settings, then DVB-t ones, which have no section 12.
  Workspace satellite = test::SettingsWorkspace(kLayoutDvbS, 406, 3);
  Component_SaveBin(satellite, ComponentKind::Flash, work.File("s.bin"));
  ASSERT_EQ(Tolv("convert flash=s.bin -o blocks=b.bin").status, 0);
  test::ProgramRun blocks = Tolv("convert all.tfd -o blocks=b.bin");
  EXPECT_EQ(blocks.status, 0);
  EXPECT_EQ(blocks.err, "b [12].bin is from before and was not replaced\n");
}

TEST_F(TolvOutputs, FoldersNamedBeyondAsciiAreWrittenAndReadBack) {
  const std::string folder = "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9t\xC3\xA9";  // "日本 été"
  test::ProgramRun out = Tolv("convert all.tfd -o '" + folder + "/'");
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_TRUE(Contains(out.out, "Wrote " + folder + "/loader.bin\n")) << out.out;
  test::ProgramRun verify = Tolv("verify '" + folder + "/'");
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  test::ProgramRun back = Tolv("convert '" + folder + "' --sysid 406 -o again.tfd");
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(test::ReadBytes(work.File("again.tfd")), test::ReadBytes(work.File("all.tfd")));
  // Checked beforehand too: a download into a folder below a file stops.
  ASSERT_EQ(Tolv("convert all.tfd -o 'eeprom=" + folder + "/file'").status, 0);
  test::ProgramRun download = Tolv("download --port nowhere -o '" + folder + "/file/x/'");
  EXPECT_EQ(download.status, 1);
  EXPECT_TRUE(Contains(download.err, "\"" + folder + "/file\" is not a folder")) << download.err;
}

// "--" ends the options of every command: what follows is what the command
// takes without an option (or refused when it takes nothing), never an
// unknown option. The runs stop at their usage check, before any port.
TEST_F(TolvOutputs, EveryCommandTakesTheEndOfTheOptions) {
  struct Case {
    const char* args;
    int status;
  } cases[] = {
      {"convert -- settings.std", 2},                          // no output
      {"convert --force -o eeprom=e.bin -- settings.std", 1},  // the output runs first
      {"download --port nowhere --", 2},
      {"download --port nowhere -- out/", 2},
      {"upload --", 2},
      {"backup --", 2},
      {"restore --", 2},
      {"reboot --", 2},
      {"models -- 406", 0},
      {"ports --", 0},
      {"info -- settings.std", 0},
      {"verify -- settings.std", 0},
      {"diff -- settings.std all.tfd", 1},  // they differ
  };
  for (const Case& c : cases) {
    test::ProgramRun r = Tolv(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_FALSE(Contains(r.err, "unknown option \"--\"")) << c.args;
  }
}

// A name that is not UTF-8, or holds a newline, cannot break a line of
// output or the JSON.
TEST_F(TolvOutputs, NamesThatAreNotUtf8OrHoldANewlineStayReadable) {
  if (!test::ProgramSuffix().empty()) GTEST_SKIP() << "Windows keeps names in UTF-16: none is not UTF-8";
  const std::string odd = "odd\xE9\xFF\nname.std";
  fs::copy_file(work.File("settings.std"), work.File(odd));
  std::string parsed;
  const std::string command = "cd '" + work.path() + "' && '" + test::BuildBinDir() +
                              "/tolv' info --json odd*name.std | python3 -c 'import json,sys; "
                              "print(json.loads(sys.stdin.read())[\"file\"])'";
  ASSERT_EQ(test::RunCommand(command, &parsed), 0) << parsed;
  EXPECT_EQ(parsed, "odd\xEF\xBF\xBD\xEF\xBF\xBD\nname.std\n");
  std::string plain;
  ASSERT_EQ(test::RunCommand(
                "cd '" + work.path() + "' && '" + test::BuildBinDir() + "/tolv' info odd*name.std", &plain),
            0);
  EXPECT_TRUE(plain.starts_with("\"odd\xE9\xFF\\nname.std\": STD file")) << plain;
}

// A folder whose set a kill cut off is finished before it is read: the
// journal names each file and its complete temporary (names in hexadecimal).
TEST_F(TolvOutputs, ReadingAFolderFinishesTheSetAKillCutOffAndSaysSo) {
  auto hex = [](const std::string& text) {
    std::string out;
    for (unsigned char c : text)
      out += "0123456789abcdef"[c >> 4] + std::string(1, "0123456789abcdef"[c & 15]);
    return out;
  };
  const std::vector<uint8_t> newer(256, 0x5A);
  Put("out/eeprom.bin", std::vector<uint8_t>(256, 1));
  Put("out/.tolv-save-k1ll3d", newer);
  Put("out/.tolv-save-stale", {9});
  const std::string journal = "tolv set 1\n" + hex("eeprom.bin") + "\t" + hex(".tolv-save-k1ll3d") + "\n";
  Put("out/.tolv-journal", std::vector<uint8_t>(journal.begin(), journal.end()));
  test::ProgramRun r = Tolv("convert out/ -o eeprom=copy.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "tolv: Finished an interrupted save in \"out/\": \"out/eeprom.bin\"")) << r.err;
  EXPECT_TRUE(
      Contains(r.err, "tolv: Removed what saves that did not end left behind: \"out/.tolv-save-stale\""))
      << r.err;
  EXPECT_EQ(test::ReadBytes(work.File("copy.bin")), newer);
  EXPECT_EQ(test::ReadBytes(work.File("out/eeprom.bin")), newer);
  for (const auto& entry : fs::directory_iterator(work.File("out")))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".tolv-")) << entry.path();
}

}  // namespace
}  // namespace tolv
