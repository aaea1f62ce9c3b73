#include "ui_test_support.h"

#include <QApplication>
#include <QComboBox>

#include <cstdlib>

#include "flash/model_list.h"

namespace tolv::test {

void EnsureQtApplication() {
  // Made once and never destroyed: the toolkit's own globals may be gone by
  // the time static objects are destroyed at exit.
  static QApplication* app = nullptr;
  if (app != nullptr) return;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  app = new QApplication(argc, argv);
}

std::string ScriptedFileDialogs::Choose(const FileDialogRequest& request) {
  requests_.push_back(request);
  if (answers_.empty()) return "";
  std::string answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void WindowTest::SetUp() {
  EnsureQtApplication();
  // Model names come from a "Firmware.dat" in the current directory when
  // there is one; the tests run where there is none unless they write one.
  tolv::testing::ModelList_Unload();
  OpenWindow();
}

void WindowTest::TearDown() {
  window.reset();
  tolv::testing::ModelList_Unload();
}

void WindowTest::OpenWindow(std::vector<std::string> ports) {
  window.reset();
  WindowServices services;
  services.workspace = &workspace;
  services.interaction = &ui;
  services.fileDialogs = &dialogs;
  services.listSerialPorts = [ports] { return ports; };
  window = std::make_unique<TForm1>(services);
}

std::vector<std::string> ComboItems(const TForm1& window, const char* name) {
  auto* combo = window.findChild<QComboBox*>(name);
  std::vector<std::string> items;
  if (combo == nullptr) return items;
  for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
  return items;
}

}  // namespace tolv::test
