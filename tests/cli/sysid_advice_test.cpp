// Advice on a SystemID that does not suit the settings, and the families of
// the models with built-in names.
#include "cli/sysid_advice.h"

#include <gtest/gtest.h>

#include "flash/layout.h"
#include "flash/model_family.h"
#include "no_model_list.h"
#include "workspace_fixtures.h"

namespace tolv::cli {
namespace {

TEST(ModelFamily, FollowsTheBuiltInNames) {
  EXPECT_EQ(kLayoutDvbS, Model_LayoutFamily(406));    // TF5000 (EUR)
  EXPECT_EQ(kLayoutDvbT, Model_LayoutFamily(456));    // TF5800t MHEG
  EXPECT_EQ(kLayoutDvbT, Model_LayoutFamily(10426));  // Procaster 5101T
  EXPECT_EQ(kLayoutDvbC, Model_LayoutFamily(12406));  // TF5100c
  EXPECT_EQ(kLayoutDvbC, Model_LayoutFamily(10416));  // Procaster 5101C
  EXPECT_EQ(kLayoutNone, Model_LayoutFamily(1416));   // no name
  EXPECT_EQ(kLayoutNone, Model_LayoutFamily(39321));  // the wildcard
  EXPECT_EQ(kLayoutNone, Model_LayoutFamily(1234));
}

TEST(SystemIdAdvice, NamesAFamilyMismatchAndSettingsThatCannotBePacked) {
  test::NoModelList noModelList;
  Workspace ws = test::SettingsWorkspace(kLayoutDvbT, 406, 3);
  EXPECT_EQ(
      "SystemID 406 (unknown SysID=406) is a DVB-s model, but the settings are DVB-t: a receiver of that "
      "model cannot use them. Check the number (\"tolv models\" lists the models).",
      SystemId_FamilyWarning(ws));
  EXPECT_EQ("", SystemId_PackingAdvice(ws)) << "406 has a built-in header";
  ws.systemId = 456;
  EXPECT_EQ("", SystemId_FamilyWarning(ws)) << "both terrestrial";
  EXPECT_EQ(
      "SystemID 456 (unknown SysID=456): TolvPack has no built-in model header for it, and no loaded block "
      "brought one, so its settings cannot be packed. Load a settings block of that model first (an STD, "
      "TFD or flash dump file from such a receiver, or a download from it): its header is kept for packing. "
      "\"tolv models 456\" tells more.",
      SystemId_PackingAdvice(ws));
  ws.systemId = 1234;
  EXPECT_EQ("", SystemId_FamilyWarning(ws)) << "a family not known is no mismatch";
  ws.Present(ComponentKind::Flash) = false;
  EXPECT_EQ("", SystemId_PackingAdvice(ws)) << "nothing to pack";
}

}  // namespace
}  // namespace tolv::cli
