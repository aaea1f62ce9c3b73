#include "ui_test_support.h"

#include <QApplication>
#include <QComboBox>

#include <cstdlib>

#include "flash/layout.h"
#include "flash/model_list.h"
#include "flash/packing.h"

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

std::vector<uint8_t> SettingsImage(uint8_t variant, uint32_t seed) {
  // Mostly blank (0xFF, like erased flash) with some records, so it packs.
  std::vector<uint8_t> image(kFlashImageSize, 0xFF);
  const std::vector<uint8_t> records = RandomBytes(seed, 4096);
  std::copy(records.begin(), records.end(), image.begin() + 0x100);
  // Section 5 of the layout begins with a CRC, the FF FF marker and data.
  const uint32_t start = Layout_Sections(variant).start[5];
  const uint8_t marker[6] = {0x12, 0x34, 0xFF, 0xFF, 0x00, 0x01};
  std::copy(std::begin(marker), std::end(marker), image.begin() + start);
  return image;
}

std::vector<std::string> ComboItems(const TForm1& window, const char* name) {
  auto* combo = window.findChild<QComboBox*>(name);
  std::vector<std::string> items;
  if (combo == nullptr) return items;
  for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i).toStdString());
  return items;
}

}  // namespace tolv::test
