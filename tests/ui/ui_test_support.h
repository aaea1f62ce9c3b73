// Helpers of the window tests: an offscreen application, scripted file
// dialogs and a fixture that opens a window on its own workspace.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "ui/file_filter.h"
#include "ui/main_window.h"
#include "workspace/workspace.h"

namespace tolv::test {

// Creates the process's QApplication on first use, on the offscreen
// platform (no display needed).
void EnsureQtApplication();

// FileDialogs that record every request and answer from a script; a request
// without a scripted answer is cancelled ("").
class ScriptedFileDialogs : public FileDialogs {
 public:
  void Answer(const std::string& fileName) { answers_.push_back(fileName); }
  std::string Choose(const FileDialogRequest& request) override;
  const std::vector<FileDialogRequest>& requests() const { return requests_; }
  bool AllAnswersUsed() const { return answers_.empty(); }

 private:
  std::vector<FileDialogRequest> requests_;
  std::deque<std::string> answers_;
};

// A window on a fresh workspace, with scripted answers and dialogs and the
// serial ports given by ports.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens the window (FormCreate runs); OpenWindow is called by SetUp with no
  // serial ports, tests may open another one.
  void OpenWindow(std::vector<std::string> ports = {});

  Workspace workspace;
  ScriptedInteraction ui;
  ScriptedFileDialogs dialogs;
  std::unique_ptr<TForm1> window;
  TempDir dir;
};

// The texts of the items of the named combo box.
std::vector<std::string> ComboItems(const TForm1& window, const char* name);

}  // namespace tolv::test
