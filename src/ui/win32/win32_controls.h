// The window's children, menu bar, fonts and tooltips, made from the window
// model's control and menu tables: one Win32 control per table row, all of
// them children of the main window at their client-area rectangles (a group
// box is a frame drawn beneath its contents, not their parent, so that every
// control's notifications reach the main window).
#pragma once

#include <windows.h>

#include <array>
#include <optional>

#include "window/controls.h"

namespace tolv::win32 {

// Child window ids: the control's table index plus kFirstControlId. Menu
// command ids: the entry's index plus kFirstMenuCommandId. Tests find the
// controls and pick menu entries by these numbers.
inline constexpr int kFirstControlId = 1000;
inline constexpr int kFirstMenuCommandId = 2000;

constexpr int ChildId(ControlId id) { return kFirstControlId + static_cast<int>(Index(id)); }
constexpr int MenuCommandId(MenuEntryId id) { return kFirstMenuCommandId + static_cast<int>(Index(id)); }
std::optional<ControlId> ControlForChildId(int childId);
std::optional<MenuEntryId> MenuEntryForCommandId(int commandId);

// The tables lay the window out in pixels at 96 dots per inch; on a screen of
// more (or fewer) dots everything, fonts included, is scaled by dpi / 96,
// rounded to the nearest pixel.
inline constexpr int kLayoutDpi = 96;
constexpr int ScaleToDpi(int pixels, int dpi) {
  return pixels >= 0 ? (pixels * dpi + kLayoutDpi / 2) / kLayoutDpi : -ScaleToDpi(-pixels, dpi);
}
// The table's client-area rectangle of id, scaled to dpi.
Rect ScaledClientRect(ControlId id, int dpi);
// The dots per inch of the screen that window is on (the system's when the
// system cannot tell a window's own).
int WindowDpi(HWND window);

// The window's font and the coloured labels' bold font, made from the table's
// FontStyles at dpi; released with the object.
class WindowFonts {
 public:
  explicit WindowFonts(int dpi);
  ~WindowFonts();
  WindowFonts(const WindowFonts&) = delete;
  WindowFonts& operator=(const WindowFonts&) = delete;
  HFONT For(const FontStyle& design) const { return design.bold ? label_ : window_; }
  HFONT window() const { return window_; }

 private:
  HFONT window_;
  HFONT label_;
};

using ControlHandles = std::array<HWND, kControlCount>;

// Creates every control of ControlTable() in table order (which is the tab
// order) as a child of window, with its caption, font and style for its kind,
// at its rectangle scaled to dpi. Throws std::runtime_error when a control
// cannot be created.
ControlHandles CreateControls(HWND window, const WindowFonts& fonts, int dpi);

// Moves every control to its rectangle scaled to dpi and gives it its font of
// fonts (made for dpi): the window moved to a screen of another resolution.
void PlaceControls(const ControlHandles& controls, const WindowFonts& fonts, int dpi);

// The menu bar of MainMenu(), entries with their MenuCommandId. The caller
// gives it to its window, which then owns it.
HMENU CreateMainMenu();

// A tooltip window owned by window showing each control's hint while the
// mouse rests on it; controls without a hint get none. Returns the tooltip
// window (destroyed with its owner).
HWND CreateTooltips(HWND window, const ControlHandles& controls);

// Replaces the hint of one control (an empty text removes the tip's text).
void SetTooltipText(HWND tooltips, HWND window, HWND control, const std::wstring& text);

}  // namespace tolv::win32
