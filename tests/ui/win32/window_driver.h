// Drives TolvPack.exe from another process, as a user would, through the
// Win32 API itself: finds the window and its controls, presses buttons,
// picks menu entries, answers message boxes, types into the common file
// dialog and reads back rectangles, texts, enabled states and the colours on
// the screen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "window/controls.h"

namespace tolv::test {

// Polls condition until it holds or timeoutMs has passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

class WindowDriver {
 public:
  // Starts TolvPack.exe of the build with args (separated by blanks) in the
  // folder cwd and waits until its window "Tolv Pack" is shown. Fails the
  // test (ADD_FAILURE) and leaves window() null when it does not come.
  WindowDriver(const std::string& args, const std::string& cwd);
  // Closes the window and waits for the program to end (ending it by force
  // after a while).
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  HWND window() const { return window_; }
  HWND Control(ControlId id) const;

  // The control's rectangle in the window's client area.
  Rect ClientRectOf(ControlId id) const;
  std::string Text(ControlId id) const;
  bool Enabled(ControlId id) const;
  bool Checked(ControlId id) const;
  std::vector<std::string> ComboItems(ControlId id) const;
  int ProgressPosition() const;
  // The colour on the screen (0xRRGGBB) of the pixel at (x, y) of control.
  uint32_t PixelOf(ControlId id, int x, int y) const;
  // The background colour of a coloured label (a corner pixel, clear of its text).
  uint32_t LabelColour(ControlId id) const { return PixelOf(id, 2, 2); }

  // What a user's click, double-click, menu pick, tick or list choice does.
  void Click(ControlId id) const;
  void DoubleClick(ControlId id) const;
  void PickMenu(MenuEntryId id) const;
  void SetChecked(ControlId box, bool checked) const;
  void SelectItem(ControlId combo, int index) const;
  // Writes what the screen shows of the whole window, frame included, to
  // path as a 24-bit BMP file. False when that fails.
  bool SavePicture(const std::string& path) const;
  // Closes the window as its close box does.
  void Close() const;

  // Real input, as a person gives it: xdotool (a program of the system under
  // Wine) moves the mouse and clicks or types on the virtual screen, and the
  // events take the whole road through the window system (hit testing,
  // double-click detection, focus, the keyboard). False when xdotool cannot
  // be run.
  bool MouseClick(ControlId id, int clicks) const;
  bool PressKeys(const std::string& keys) const;
  // The program's control with the keyboard focus (nullptr for none) and
  // whether its window is the active one.
  HWND FocusedControl() const;
  bool Active() const;

  // The program's dialog or message box with this caption, once it is shown;
  // null after timeoutMs.
  HWND WaitForDialog(const std::wstring& caption, int timeoutMs = 15000) const;
  // The text of a message box.
  static std::string MessageText(HWND box);
  // Presses the message box's button (IDOK, IDYES, IDNO).
  static void Answer(HWND box, int button);
  // Types path into the file dialog's file name field and presses Enter.
  static bool TypeFileName(HWND dialog, const std::string& path);

  // Waits until the program has ended; its exit code, or -1 after timeoutMs.
  int WaitForExit(int timeoutMs);

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// Runs xdotool with args (on the screen of DISPLAY) and waits for it; true
// when it ran and succeeded.
bool RunXdotool(const std::string& args);

// The screen resolution that the programs started while it lives see
// (Wine's LogPixels), the earlier one back at its end.
class ScopedLogPixels {
 public:
  explicit ScopedLogPixels(DWORD dpi);
  ~ScopedLogPixels();
  ScopedLogPixels(const ScopedLogPixels&) = delete;
  ScopedLogPixels& operator=(const ScopedLogPixels&) = delete;

 private:
  std::vector<std::pair<HKEY, std::optional<DWORD>>> before_;
};

// The path of a file of the test's own folder as the program sees it.
std::string WindowsPath(const std::string& path);

}  // namespace tolv::test
