// A work folder holding settings.std: DVB-t settings for SystemID 406 in which
// only the factory defaults' part is filled, the rest of the Flash erased to
// zeros. tolv runs in the folder; Put adds files (and their folders) to it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "tolv_run.h"
#include "workspace/std_file.h"
#include "workspace_fixtures.h"

namespace tolv::test {

class SettingsBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ws = SettingsWorkspace(kLayoutDvbT, 406, 21);
    std::fill(flash().begin() + kDefaultsSettingsSize, flash().end(), uint8_t{0});
    ScriptedInteraction ui;
    ASSERT_TRUE(STD_Save(ws, work.File("settings.std"), ui));
  }
  std::vector<uint8_t>& flash() { return ws.Image(ComponentKind::Flash); }
  void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(work.File(name)).parent_path());
    WriteBytes(work.File(name), bytes);
  }
  ProgramRun Tolv(const std::string& args) { return RunTolv(args, work.path()); }

  TempDir work;
  Workspace ws;
};

}  // namespace tolv::test
