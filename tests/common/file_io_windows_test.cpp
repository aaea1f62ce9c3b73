// File access on Windows: names beyond the code page, the program's folder,
// attributes kept by a replacement, error texts from the system.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/file_io.h"
#include "common/platform.h"
#include "common/windows_text.h"
#include "test_support.h"

namespace tolv {
namespace {

TEST(FileIoWindowsTest, Utf8NamesReachTheSystemAsTheirCharacters) {
  test::TempDir dir;
  // Latin, Greek, CJK and a character outside the Basic Multilingual Plane.
  const std::string name = "Fl\xC3\xA4sh \xCE\xB1\xCE\xB2 \xE6\x95\xB0 \xF0\x9F\x93\xBA.dmp";
  const std::string path = dir.File(name);
  SaveFileAtomically(path, std::vector<uint8_t>{1, 2, 3});
  SaveFileAtomically(path, std::vector<uint8_t>{4, 5});
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{4, 5}));
  // The system lists exactly that one file under the UTF-16 form of the name.
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(Utf8ToWide(dir.path() + "\\*.dmp").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WideToUtf8(found.cFileName), name);
  EXPECT_FALSE(FindNextFileW(search, &found));
  FindClose(search);
  // The log's stdio files take the same names.
  std::FILE* file = OpenFileStream(path, "ab");
  ASSERT_NE(file, nullptr);
  std::fputc(6, file);
  std::fclose(file);
  EXPECT_EQ(FileSizeOf(path), 3u);
}

TEST(FileIoWindowsTest, ReplacementKeepsTheHiddenAttribute) {
  test::TempDir dir;
  const std::string path = dir.File("hidden.std");
  test::WriteBytes(path, {1});
  ASSERT_TRUE(SetFileAttributesW(Utf8ToWide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
  SaveFileAtomically(path, std::vector<uint8_t>{2});
  EXPECT_TRUE(GetFileAttributesW(Utf8ToWide(path).c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>{2});
}

TEST(FileIoWindowsTest, ErrorsCarryTheSystemsTextAndProgramFolderIsKnown) {
  test::TempDir dir;
  try {
    ReadFileBytes(dir.File("missing.bin"));
    FAIL();
  } catch (const FileError& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("Cannot open file \"", 0), 0u) << text;
    EXPECT_EQ(text.find("Windows error"), std::string::npos) << text;
    EXPECT_NE(text.back(), '\n');
  }
  const std::string programDir = ExecutableDirectory();
  ASSERT_FALSE(programDir.empty());
  EXPECT_EQ(programDir.back(), '\\');
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(WideToUtf8(self).rfind(programDir, 0), 0u);
}

size_t HiddenFilesIn(const std::string& dir) {
  size_t count = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir))
    count += entry.path().filename().string().starts_with(".tolv-");
  return count;
}

// A file that another program holds open cannot be renamed over: the old
// files are moved aside first, so the save fails before replacing any.
TEST(FileIoWindowsTest, AFileHeldOpenStopsASaveOfSeveralBeforeAnyIsReplaced) {
  test::TempDir dir;
  const std::string a = dir.File("loader.bin"), b = dir.File("firmware.bin"), c = dir.File("eeprom.bin");
  test::WriteBytes(a, {1});
  test::WriteBytes(b, {2});
  test::WriteBytes(c, {3});
  const std::vector<uint8_t> bytes = test::RandomBytes(1, 3000);
  const std::vector<FileToSave> files = {{a, {bytes}}, {b, {bytes}}, {c, {bytes}}};
  HANDLE held = CreateFileW(Utf8ToWide(b).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(SaveFilesAtomically(files), FileError);
  CloseHandle(held);
  EXPECT_EQ(test::ReadBytes(a), std::vector<uint8_t>{1});
  EXPECT_EQ(test::ReadBytes(b), std::vector<uint8_t>{2});
  EXPECT_EQ(test::ReadBytes(c), std::vector<uint8_t>{3});
  EXPECT_EQ(HiddenFilesIn(dir.path()), 0u);
  SaveFilesAtomically(files);
  EXPECT_EQ(test::ReadBytes(b), bytes);
  EXPECT_EQ(HiddenFilesIn(dir.path()), 0u);
}

TEST(FileIoWindowsTest, TheReadOnlyAttributeProtectsAFileAndStaysWhenForced) {
  test::TempDir dir;
  const std::string path = dir.File("settings.std"), other = dir.File("other.bin");
  test::WriteBytes(path, {1});
  const std::wstring wide = Utf8ToWide(path);
  ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  try {
    SaveFileAtomically(path, std::vector<uint8_t>{2});
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot replace \"" + path + "\": the file is write-protected.");
  }
  EXPECT_EQ(test::ReadBytes(path), std::vector<uint8_t>{1});
  {
    ForceReplaceScope force;
    SaveFilesAtomically({{path, {std::vector<uint8_t>{3}}}, {other, {std::vector<uint8_t>{4}}}});
    SaveFileAtomically(path, std::vector<uint8_t>{2});
  }
  EXPECT_EQ(test::ReadBytes(path), std::vector<uint8_t>{2});
  EXPECT_EQ(GetFileAttributesW(wide.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(HiddenFilesIn(dir.path()), 0u);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);  // so that the folder can go
}

TEST(FileIoWindowsTest, DevicesAreNeitherReadNorReplaced) {
  EXPECT_FALSE(IsRegularFile("NUL"));
  try {
    ReadFileBytes("NUL");
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot read file \"NUL\": it is not a regular file");
  }
  EXPECT_EQ(SaveTarget_Fault("NUL").value_or(""), "Cannot replace \"NUL\": it is not a regular file.");
}

}  // namespace
}  // namespace tolv
