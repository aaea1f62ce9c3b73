// File access on Windows: names beyond the code page, the program's folder,
// attributes kept by a replacement, error texts from the system.
#include <windows.h>

#include <gtest/gtest.h>

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
