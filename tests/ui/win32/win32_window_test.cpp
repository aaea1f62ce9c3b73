// TolvPack.exe under Wine on a virtual screen, driven from this program: the
// controls at their rectangles, the colours and enabled states after each
// kind of load through the real common dialog, Cancel and close during a
// transfer, and a From Toppy download through a COM port (run by
// scripts/windows-window-round-trip, which compares the files with the Linux
// tool's).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "common/windows_text.h"
#include "flash/layout.h"
#include "link/transport.h"
#include "test_support.h"
#include "ui/win32/win32_controls.h"
#include "ui/win32/win32_file_dialogs.h"
#include "ui/win32/win32_ports.h"
#include "ui/win32/win32_window.h"
#include "window/view.h"
#include "window_driver.h"
#include "workspace/bin_files.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"
#include "workspace_fixtures.h"

namespace tolv::test {
namespace {

using C = ControlId;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Environment("DISPLAY").empty()) GTEST_SKIP() << "no screen to show the window on";
  }

  // Opens dialog title with the command's control (or menu entry) and types
  // path into it.
  void ChooseFile(WindowDriver& window, const std::wstring& title, const std::string& path) {
    const HWND dialog = window.WaitForDialog(title);
    ASSERT_NE(dialog, nullptr) << "no dialog " << WideToUtf8(title);
    ASSERT_TRUE(WindowDriver::TypeFileName(dialog, WindowsPath(path)));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "the dialog stays open";
  }

  void ExpectLabels(const WindowDriver& window, const std::vector<C>& lit, uint32_t on, uint32_t off,
                    const std::vector<C>& labels) {
    for (C label : labels) {
      const bool isLit = std::find(lit.begin(), lit.end(), label) != lit.end();
      EXPECT_EQ(window.LabelColour(label), isLit ? on : off) << Control(label).name;
    }
  }

  void ExpectComponents(const WindowDriver& window, const std::vector<C>& present) {
    ExpectLabels(window, present, kColourPresent, kColourAbsent,
                 {C::Label1, C::Label2, C::Label3, C::Label4, C::Label5, C::Label11});
  }

  void ExpectLayout(const WindowDriver& window, std::optional<C> lit) {
    std::vector<C> on;
    if (lit) on.push_back(*lit);
    ExpectLabels(window, on, kColourLayoutLit, kColourLayoutUnlit, {C::Label6, C::Label7, C::Label8});
  }

  TempDir dir;
};

TEST_F(Win32WindowTest, EveryControlSitsAtItsRectangleWithItsCaptionAndStartState) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  RECT client;
  GetClientRect(window.window(), &client);
  EXPECT_EQ(client.right, 344);
  EXPECT_EQ(client.bottom, 461);
  RECT frame;
  GetWindowRect(window.window(), &frame);
  EXPECT_EQ(frame.left, 0);
  EXPECT_EQ(frame.top, 0);
  const LONG style = GetWindowLongW(window.window(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX));

  for (const ControlDesign& design : ControlTable()) {
    const Rect expected = ClientRect(design.id);
    const Rect actual = window.ClientRectOf(design.id);
    EXPECT_EQ(actual, expected) << design.name << " at " << actual.left << "," << actual.top << " "
                                << actual.width << "x" << actual.height;
    if (design.kind == ControlKind::Button || design.kind == ControlKind::CheckBox ||
        design.kind == ControlKind::Group) {
      EXPECT_EQ(window.Text(design.id), design.caption) << design.name;
    }
    if (design.kind == ControlKind::CheckBox) {
      EXPECT_FALSE(window.Checked(design.id)) << design.name;
    }
  }
  // The empty workspace: dark labels, nothing to save, the SystemID empty.
  ExpectComponents(window, {});
  ExpectLayout(window, std::nullopt);
  EXPECT_EQ(window.LabelColour(C::Label9), kColourSystemIdUnset);
  EXPECT_EQ(window.Text(C::Label9), "");
  EXPECT_EQ(window.Text(C::Label10), "-");
  for (C id : {C::ButtonSaveSTD, C::ButtonSaveTFD, C::ButtonSaveToToppy, C::CheckBox6, C::CheckBox14})
    EXPECT_FALSE(window.Enabled(id)) << Control(id).name;
  for (C id : {C::ButtonNew, C::ButtonLoadSTD, C::ButtonLoadTFD, C::ButtonLoadFromToppy, C::CheckBox1})
    EXPECT_TRUE(window.Enabled(id)) << Control(id).name;
  EXPECT_EQ(window.ComboItems(C::ComboBox1).front(), "USB");
  EXPECT_EQ(window.ComboItems(C::ComboBox2), window.ComboItems(C::ComboBox1));
  window.Close();
  EXPECT_EQ(window.WaitForExit(10000), 0);
}

TEST_F(Win32WindowTest, StdAndTfdLoadsThroughTheCommonDialogLightTheirLabels) {
  // An STD of DVB-t settings and EEPROM for SystemID 406, a TFD of every
  // component for 1416.
  SilentInteraction quiet;
  Workspace settings = SettingsWorkspace(kLayoutDvbT, 406, 1);
  ASSERT_TRUE(STD_Save(settings, dir.File("box.std"), quiet));
  Workspace everything = SettingsWorkspace(kLayoutDvbS, 1416, 2);
  for (ComponentKind kind : {ComponentKind::Loader, ComponentKind::Defaults, ComponentKind::Background})
    everything.Present(kind) = true;
  everything.Image(ComponentKind::Firmware) = RandomBytes(3, 4000);
  everything.Present(ComponentKind::Firmware) = true;
  ASSERT_TRUE(TFD_Export(everything, dir.File("all.tfd"), quiet));
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);

  // STD: Flash and EEPROM, the layout, the SystemID; saving an STD is offered.
  window.Click(C::ButtonLoadSTD);
  ChooseFile(window, L"TolvPack: Load a std files", dir.File("box.std"));
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label3) == kColourPresent; }));
  ExpectComponents(window, {C::Label3, C::Label4});
  ExpectLayout(window, C::Label7);
  EXPECT_EQ(window.LabelColour(C::Label9), kColourSystemIdSet);
  EXPECT_EQ(window.Text(C::Label9).rfind("406 (", 0), 0u) << window.Text(C::Label9);
  for (C id : {C::ButtonSaveSTD, C::ButtonSaveTFD, C::ButtonSaveToToppy, C::CheckBox8, C::CheckBox9})
    EXPECT_TRUE(window.Enabled(id)) << Control(id).name;
  EXPECT_FALSE(window.Enabled(C::CheckBox6));

  // TFD: every component, the other SystemID.
  window.Click(C::ButtonLoadTFD);
  ChooseFile(window, L"TolvPack: Load a tfd files", dir.File("all.tfd"));
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label11) == kColourPresent; }));
  ExpectComponents(window, {C::Label1, C::Label2, C::Label3, C::Label4, C::Label5, C::Label11});
  ExpectLayout(window, C::Label6);
  EXPECT_EQ(window.Text(C::Label9).rfind("1416 (", 0), 0u) << window.Text(C::Label9);
  EXPECT_TRUE(window.Enabled(C::CheckBox14));
}

TEST_F(Win32WindowTest, BinAndDumpLoadsFromTheMenuAndRemovalByDoubleClick) {
  SilentInteraction quiet;
  WriteBytes(dir.File("loader.bin"), RandomBytes(4, 65536));
  Workspace cable = SettingsWorkspace(kLayoutDvbC, 406, 5);
  ASSERT_TRUE(FlashDump_Save(cable, dir.File("cable.dmp"), quiet));
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);

  // New always asks.
  window.Click(C::ButtonNew);
  const HWND question = window.WaitForDialog(L"TolvPack");
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(WindowDriver::MessageText(question), "Unload all data?");
  WindowDriver::Answer(question, IDYES);

  // A loader BIN alone: a TFD may be saved, an STD not.
  window.PickMenu(MenuEntryId::MenuLoadLoaderBIN);
  ChooseFile(window, L"TolvPack: Load a Loader BIN", dir.File("loader.bin"));
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label1) == kColourPresent; }));
  ExpectComponents(window, {C::Label1});
  EXPECT_TRUE(window.Enabled(C::ButtonSaveTFD));
  EXPECT_FALSE(window.Enabled(C::ButtonSaveSTD));

  // A flash dump: the Flash and its layout, the SystemID stays unset.
  window.PickMenu(MenuEntryId::MenuLoadFlashDMP);
  ChooseFile(window, L"TolvPack: Load a Flash Dump", dir.File("cable.dmp"));
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label3) == kColourPresent; }));
  ExpectComponents(window, {C::Label1, C::Label3});
  ExpectLayout(window, C::Label8);
  EXPECT_EQ(window.LabelColour(C::Label9), kColourSystemIdUnset);
  EXPECT_FALSE(window.Enabled(C::ButtonSaveSTD));

  // A double-click on a label removes its component after the question.
  window.DoubleClick(C::Label1);
  const HWND unload = window.WaitForDialog(L"TolvPack");
  ASSERT_NE(unload, nullptr);
  WindowDriver::Answer(unload, IDYES);
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label1) == kColourAbsent; }));
  EXPECT_FALSE(window.Enabled(C::CheckBox6));
}

// The SystemID box: a double-click on the SystemID label, a number typed
// over the preset, Enter.
TEST_F(Win32WindowTest, TheSystemIdBoxTakesATypedNumber) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  window.DoubleClick(C::Label9);
  const HWND box = window.WaitForDialog(L"Tolv Pack");
  ASSERT_NE(box, nullptr);
  HWND field = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (field = FindWindowExW(box, nullptr, L"Edit", nullptr)) != nullptr; }));
  // The preset "0", selected: the number typed replaces it.
  wchar_t preset[16] = L"";
  SendMessageW(field, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(preset));
  EXPECT_EQ(std::wstring(preset), L"0");
  for (wchar_t c : std::wstring(L"1416")) PostMessageW(field, WM_CHAR, c, 1);
  PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label9) == kColourSystemIdSet; }));
  EXPECT_EQ(window.Text(C::Label9).rfind("1416 (", 0), 0u) << window.Text(C::Label9);
}

// From Toppy on "USB", where no receiver ever comes: the window locks the
// transfer's controls, keeps answering, and one press of "Cancel transfer"
// ends the wait.
// A visible dialog of process pid (class "#32770"), or null.
HWND ProcessDialog(DWORD pid) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{pid, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        wchar_t name[16] = L"";
        GetClassNameW(hwnd, name, 16);
        if (owner != s->pid || !IsWindowVisible(hwnd) || std::wstring(name) != L"#32770") return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The Toppy menu's backup asks for a folder with the system's folder
// browser; a cancelled choice starts nothing and tells nothing.
TEST_F(Win32WindowTest, TheBackupAsksForAFolderAndACancelledChoiceStartsNothing) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(window.window(), &pid);
  window.PickMenu(MenuEntryId::MenuToppyBackUp);
  HWND browser = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (browser = ProcessDialog(pid)) != nullptr; })) << "no folder dialog";
  WindowDriver::Answer(browser, IDCANCEL);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(browser); })) << "the folder dialog stays open";
  Sleep(500);
  EXPECT_EQ(ProcessDialog(pid), nullptr) << "no box after a cancelled choice";
  EXPECT_EQ(window.Text(C::Label10), "-");
  EXPECT_EQ(window.Text(C::ButtonLoadFromToppy), "From Toppy");
  EXPECT_TRUE(window.Enabled(C::ButtonLoadSTD));
}

TEST_F(Win32WindowTest, CancelDuringATransferEndsItAndUnlocksTheControls) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  window.SetChecked(C::CheckBox1, true);
  window.Click(C::ButtonLoadFromToppy);
  ASSERT_TRUE(WaitUntil([&] { return window.Text(C::ButtonLoadFromToppy) == kCancelTransferCaption; }));
  ASSERT_TRUE(WaitUntil([&] { return window.Text(C::Label10) == "Waiting for USB interface"; }));
  for (C id : {C::ButtonLoadSTD, C::ButtonLoadTFD, C::CheckBox1, C::CheckBox13})
    EXPECT_FALSE(window.Enabled(id)) << Control(id).name;
  for (C id : {C::ButtonLoadFromToppy, C::ButtonNew, C::CheckBox11, C::ComboBox1})
    EXPECT_TRUE(window.Enabled(id)) << Control(id).name;

  // A press within the double-click time of the first is its second half.
  Sleep(GetDoubleClickTime() + 100);
  window.Click(C::ButtonLoadFromToppy);
  ASSERT_TRUE(WaitUntil([&] { return window.Enabled(C::ButtonLoadSTD) && window.Text(C::Label10) == "-"; }))
      << window.Text(C::Label10);
  EXPECT_EQ(window.Text(C::ButtonLoadFromToppy), "From Toppy");
  EXPECT_EQ(window.ProgressPosition(), 0);
  EXPECT_TRUE(window.Checked(C::CheckBox1));
}

// A double-click with the mouse on From Toppy: Windows makes two clicks of
// it, and the second must not cancel the transfer the first started (on
// "USB", where no receiver comes, the transfer waits until cancelled). A
// later click is the cancel.
TEST_F(Win32WindowTest, ADoubleClickOnFromToppyStartsOneTransferAndCancelsNothing) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  ASSERT_TRUE(window.MouseClick(C::ButtonLoadFromToppy, 2)) << "xdotool does not run";
  ASSERT_TRUE(WaitUntil([&] { return window.Text(C::Label10) == "Waiting for USB interface"; }));
  // Both clicks have long arrived when the double-click time has passed twice.
  Sleep(2 * GetDoubleClickTime());
  EXPECT_EQ(window.Text(C::ButtonLoadFromToppy), kCancelTransferCaption) << "the second click cancelled";
  EXPECT_EQ(window.Text(C::Label10), "Waiting for USB interface");
  ASSERT_TRUE(window.MouseClick(C::ButtonLoadFromToppy, 1));
  EXPECT_TRUE(WaitUntil([&] { return window.Text(C::ButtonLoadFromToppy) == "From Toppy"; }));
  EXPECT_TRUE(WaitUntil([&] { return window.Text(C::Label10) == "-"; }));
}

// The keyboard as a person uses it: the first control has the focus at
// start; a message box belongs to the window and, once answered with a key,
// leaves the window active with the focus where it was; after a file dialog
// the focus is back on the button that opened it.
TEST_F(Win32WindowTest, TheKeyboardFocusIsWhereWindowsProgramsKeepIt) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return window.FocusedControl() == window.Control(C::ButtonNew); }))
      << "no control has the focus at start";
  ASSERT_TRUE(window.PressKeys("space")) << "xdotool does not run";
  const HWND box = window.WaitForDialog(L"TolvPack");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowDriver::MessageText(box), "Unload all data?");
  EXPECT_EQ(GetWindow(box, GW_OWNER), window.window());
  ASSERT_TRUE(window.PressKeys("n"));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
  EXPECT_TRUE(
      WaitUntil([&] { return window.Active() && window.FocusedControl() == window.Control(C::ButtonNew); }));

  ASSERT_TRUE(window.PressKeys("Tab space"));  // Load "STD", the next control
  const HWND dialog = window.WaitForDialog(L"TolvPack: Load a std files");
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(window.PressKeys("Escape"));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
  EXPECT_TRUE(WaitUntil(
      [&] { return window.Active() && window.FocusedControl() == window.Control(C::ButtonLoadSTD); }));
}

// The caption's extent in the control's font at dpi.
SIZE CaptionSize(HDC dc, const ControlDesign& design, int dpi) {
  const HFONT font = CreateFontW(-win32::ScaleToDpi(design.font.pixelHeight, dpi), 0, 0, 0,
                                 design.font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, Utf8ToWide(design.font.family).c_str());
  const HGDIOBJ before = SelectObject(dc, font);
  const std::wstring caption = Utf8ToWide(design.caption);
  SIZE text{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  SelectObject(dc, before);
  DeleteObject(font);
  return text;
}

// At 144 dots per inch (150%) every rectangle is the table's scaled by 1.5,
// within the pixel that rounding takes, and every caption fits into its
// control in the font scaled alike, as it fits at 96 dots per inch.
TEST_F(Win32WindowTest, AtHighResolutionTheLayoutAndItsFontsScale) {
  constexpr int kDpi = 144;
  ScopedLogPixels resolution(kDpi);
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  RECT client;
  GetClientRect(window.window(), &client);
  EXPECT_EQ(client.right, 516);
  EXPECT_EQ(client.bottom, 692);
  const HDC screen = GetDC(nullptr);
  for (const ControlDesign& design : ControlTable()) {
    const Rect table = ClientRect(design.id);
    const Rect actual = window.ClientRectOf(design.id);
    const auto scaled = [](int actual, int at96) { return std::abs(actual * 96 - at96 * kDpi) <= 96; };
    EXPECT_TRUE(scaled(actual.left, table.left) && scaled(actual.top, table.top) &&
                scaled(actual.width, table.width) &&
                (design.kind == ControlKind::ComboBox || scaled(actual.height, table.height)))
        << design.name << " at " << actual.left << "," << actual.top << " " << actual.width << "x"
        << actual.height;
    if (design.caption[0] == '\0' || design.kind == ControlKind::ComboBox) continue;
    // A check box's square and gap come before its text.
    const auto fits = [&](int dpi, const Rect& rect) {
      const SIZE text = CaptionSize(screen, design, dpi);
      const int before = design.kind == ControlKind::CheckBox
                             ? MulDiv(GetSystemMetrics(SM_CXMENUCHECK), dpi, kDpi) + win32::ScaleToDpi(4, dpi)
                             : win32::ScaleToDpi(2, dpi);
      return text.cx <= rect.width - before && (design.kind == ControlKind::Group || text.cy <= rect.height);
    };
    EXPECT_TRUE(fits(96, table)) << design.name << " clips its caption at 96 dpi";
    EXPECT_TRUE(fits(kDpi, actual)) << design.name << " clips its caption at " << kDpi << " dpi";
  }
  ReleaseDC(nullptr, screen);
}

TEST_F(Win32WindowTest, ClosingDuringATransferCancelsItAndEndsTheProgram) {
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  window.Click(C::ButtonLoadFromToppy);
  ASSERT_TRUE(WaitUntil([&] { return window.Text(C::Label10) == "Waiting for USB interface"; }));
  window.PickMenu(MenuEntryId::MenuFileExit);
  EXPECT_EQ(window.WaitForExit(15000), 0);
}

// Run by scripts/windows-window-round-trip with toppy-sim on the COM port:
// every component but the background fetched, then saved through the dialogs
// into TOLV_WINDOW_COM_DIR.
TEST_F(Win32WindowTest, FromToppyThroughAComPort) {
  const std::string port = Environment("TOLV_WINDOW_COM_PORT");
  const std::string out = Environment("TOLV_WINDOW_COM_DIR");
  if (port.empty() || out.empty()) GTEST_SKIP() << "run by scripts/windows-window-round-trip";
  WindowDriver window("", out);
  ASSERT_NE(window.window(), nullptr);
  const std::vector<std::string> ports = window.ComboItems(C::ComboBox1);
  const auto found = std::find(ports.begin(), ports.end(), port);
  ASSERT_NE(found, ports.end()) << port << " is not listed";
  window.SelectItem(C::ComboBox1, static_cast<int>(found - ports.begin()));
  for (C box : {C::CheckBox1, C::CheckBox2, C::CheckBox3, C::CheckBox4, C::CheckBox5})
    window.SetChecked(box, true);
  window.Click(C::ButtonLoadFromToppy);
  // A notice may come first (the receiver's EEPROM of noise has no sound
  // record checksums); the download ends with the reboot question.
  for (int box = 0; box < 3; ++box) {
    const HWND shown = window.WaitForDialog(L"TolvPack", 120000);
    ASSERT_NE(shown, nullptr);
    const std::string text = WindowDriver::MessageText(shown);
    WindowDriver::Answer(shown, text == "Reboot the Toppy?" ? IDNO : IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(shown); }));
    if (text == "Reboot the Toppy?") break;
    EXPECT_NE(text.find("Received: Loader"), std::string::npos) << text;
  }
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label5) == kColourPresent; }));
  ExpectComponents(window, {C::Label1, C::Label2, C::Label3, C::Label4, C::Label5});

  // In the order of the Linux tool's outputs: the BIN files as received,
  // then the TFD and STD files, whose saves rewrite the settings' checksums.
  const std::pair<MenuEntryId, const char*> bins[] = {{MenuEntryId::MenuSaveLoaderBIN, "loader"},
                                                      {MenuEntryId::MenuSaveFirmwareBIN, "firmware"},
                                                      {MenuEntryId::MenuSaveFlashBIN, "flash"},
                                                      {MenuEntryId::MenuSaveEEPROMBIN, "eeprom"},
                                                      {MenuEntryId::MenuSaveDefaultsBIN, "defaults"}};
  for (const auto& [entry, name] : bins) {
    window.PickMenu(entry);
    ChooseFile(window, Utf8ToWide(std::string("TolvPack: Save a ") + MenuEntry(entry).caption),
               out + "/" + name);
  }
  window.Click(C::ButtonSaveTFD);
  ChooseFile(window, L"TolvPack: Save a tfd file", out + "/all.tfd");
  window.Click(C::ButtonSaveSTD);
  ChooseFile(window, L"TolvPack: Save a std files", out + "/settings.std");
  EXPECT_TRUE(WaitUntil([&] { return Exists(out + "/settings.std"); }));
}

// A picture of the window for the documentation, when TOLV_WINDOW_PICTURE
// names a file (a 24-bit BMP is written there; scripts/windows-screenshot
// makes a PNG of it): a typical state, as in the Linux window's picture.
TEST_F(Win32WindowTest, PictureForTheDocumentation) {
  const std::string picture = Environment("TOLV_WINDOW_PICTURE");
  if (picture.empty()) GTEST_SKIP() << "run by scripts/windows-screenshot";
  if (const std::optional<std::string> shared = SharedTestdataDir())
    WriteBytes(dir.File("Firmware.dat"), ReadBytes(*shared + "/Firmware.dat"));
  SilentInteraction quiet;
  Workspace settings = SettingsWorkspace(kLayoutDvbS, 406, 11);
  ASSERT_TRUE(STD_Save(settings, dir.File("settings.std"), quiet));
  WriteBytes(dir.File("firmware.bin"), RandomBytes(12, 100000));
  WindowDriver window("", dir.path());
  ASSERT_NE(window.window(), nullptr);
  window.Click(C::ButtonLoadSTD);
  ChooseFile(window, L"TolvPack: Load a std files", dir.File("settings.std"));
  window.PickMenu(MenuEntryId::MenuLoadFirmwareBIN);
  ChooseFile(window, L"TolvPack: Load a Firmware BIN", dir.File("firmware.bin"));
  ASSERT_TRUE(WaitUntil([&] { return window.LabelColour(C::Label2) == kColourPresent; }));
  window.SetChecked(C::CheckBox8, true);
  window.SetChecked(C::CheckBox9, true);
  WaitUntil([] { return false; }, 500);  // the last paint
  ASSERT_TRUE(window.SavePicture(picture));
}

// The menu entries' enabled states, which only the window's own process can
// read: the window made here, commands run through its model.
class AnswerWith : public FileDialogs {
 public:
  explicit AnswerWith(std::string name) : name_(std::move(name)) {}
  std::string Choose(const FileDialogRequest&) override { return name_; }

 private:
  std::string name_;
};

TEST(Win32WindowMenus, FollowTheViewAfterALoadAndDuringATransfer) {
  if (Environment("DISPLAY").empty()) GTEST_SKIP() << "no screen to show the window on";
  TempDir dir;
  SilentInteraction quiet;
  Workspace settings = SettingsWorkspace(kLayoutDvbS, 406, 9);
  ASSERT_TRUE(STD_Save(settings, dir.File("in.std"), quiet));
  Workspace workspace;
  ScriptedInteraction ui;
  AnswerWith dialogs(dir.File("in.std"));
  win32::Win32Window window(WindowServices{&workspace, &ui, &dialogs, {}, nullptr});
  const auto expectMenusAsViewed = [&](const char* when) {
    const WindowView view = window.model().View();
    for (size_t i = 0; i < kMenuEntryCount; ++i) {
      const auto entry = static_cast<MenuEntryId>(i);
      const UINT state = GetMenuState(GetMenu(window.handle()), win32::MenuCommandId(entry), MF_BYCOMMAND);
      ASSERT_NE(state, static_cast<UINT>(-1)) << MenuEntry(entry).name;
      EXPECT_EQ((state & MF_GRAYED) == 0, view.Enabled(entry)) << MenuEntry(entry).name << " " << when;
    }
  };
  expectMenusAsViewed("at start");
  EXPECT_FALSE(window.model().View().Enabled(MenuEntryId::MenuSaveFlashDMP));
  window.model().Run(CommandId::LoadStd);
  ASSERT_TRUE(workspace.Present(ComponentKind::Flash));
  expectMenusAsViewed("after an STD load");
  EXPECT_TRUE(window.model().View().Enabled(MenuEntryId::MenuSaveFlashDMP));
  window.model().Controls_Lock();
  expectMenusAsViewed("while locked");
  EXPECT_FALSE(window.model().View().Enabled(MenuEntryId::MenuLoadFlashDMP));
  // Every menu carries its entries and separators, captions as stored.
  const HMENU bar = GetMenu(window.handle());
  ASSERT_EQ(GetMenuItemCount(bar), static_cast<int>(MainMenu().size()));
  for (size_t m = 0; m < MainMenu().size(); ++m) {
    const HMENU popup = GetSubMenu(bar, static_cast<int>(m));
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(MainMenu()[m].items.size()));
    for (size_t i = 0; i < MainMenu()[m].items.size(); ++i) {
      wchar_t text[128] = L"";
      GetMenuStringW(popup, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
      EXPECT_EQ(WideToUtf8(text), MainMenu()[m].items[i].caption);
    }
  }
}

TEST(Win32Parts, FiltersAndPortList) {
  using namespace std::string_literals;
  EXPECT_EQ(win32::DialogFilter("Topfield STD (*.std)|*.std|All files|*.*"),
            L"Topfield STD (*.std)\0*.std\0All files\0*.*\0\0"s);
  // Every port of the system's list that opens, whatever its number and in
  // natural order (Windows gives its registry's names in any order), then the
  // extra names the link can open.
  const auto available = [](const std::string& name) { return name != "COM2" && name != "COM99"; };
  const std::vector<std::string> system =
      Serial_AvailablePorts({"COM40", "COM2", "COM3", "COM1", "COM33", "COM3"}, available);
  EXPECT_EQ(system, (std::vector<std::string>{"COM1", "COM3", "COM33", "COM40"}));
  EXPECT_EQ(win32::ListComPorts(system, {"\\\\.\\CNCA0", "COM3", "COM99"}, available),
            (std::vector<std::string>{"COM1", "COM3", "COM33", "COM40", "\\\\.\\CNCA0"}));
  EXPECT_TRUE(win32::ListComPorts({}, {"COM5"}, [](const std::string&) { return false; }).empty());
}

}  // namespace
}  // namespace tolv::test
