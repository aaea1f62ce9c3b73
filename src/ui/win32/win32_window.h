// The main window on Windows: a plain Win32 window that renders the window
// model's view with the system's own controls and hands every click,
// double-click, menu pick, check box toggle and list choice to the model.
// It keeps no rules of its own: what is enabled, coloured, captioned or
// locked during a transfer is the model's (window/view.h).
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ui/win32/win32_controls.h"
#include "window/window_model.h"

namespace tolv::win32 {

// The window class name; tests find the window by it and its caption.
inline constexpr const wchar_t* kWindowClassName = L"TolvPackMainWindow";

class Win32Window : public WindowFace {
 public:
  // Creates the window (hidden) with every control and the menu bar, makes
  // its client area exactly the table's size (scaled to the screen's dots
  // per inch, see ScaleToDpi) at the table's screen position, and runs the
  // model's FormCreate (the link lists, the first render).
  // services' workspace, interaction and fileDialogs must be set and outlive
  // the window. Throws std::runtime_error when the window cannot be created.
  explicit Win32Window(const WindowServices& services);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  HWND handle() const { return window_; }
  WindowModel& model() { return *model_; }

  // Shows the window and runs the message loop until the window is closed.
  // Returns the exit code of the loop (0). With quitAfterShow the window is
  // closed as soon as it has been painted once.
  int Run(bool quitAfterShow);

  // --- WindowFace ---
  void Render(const WindowView& view) override;
  void RepaintStatusLine() override;
  void ProcessPendingMessages() override;
  void CloseWindow() override;
  std::string DecimalSeparator() const override;

  // The window procedure of the class (RegisterWindowClass).
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnStaticColour(HDC dc, HWND control);
  // Makes the client area the table's size at dpi_, the frame's top-left
  // corner staying at (left, top).
  void FitClientArea(int left, int top);
  // Keyboard focus as Windows programs keep it: the control that had it when
  // the window was deactivated (by a dialog, a message box, another program)
  // gets it back when the window is active again; the first control in tab
  // order when there is none (at start) or it is disabled now.
  void RememberFocus();
  void RestoreFocus();
  // WM_DPICHANGED: the window went to a screen of another resolution.
  void OnDpiChanged(int dpi, const RECT& suggested);
  void RenderControl(ControlId id, const ControlView* before, const ControlView& view);
  void RenderMenu(const WindowView& view, bool first);
  HBRUSH BrushFor(uint32_t rgb);
  HWND Control(ControlId id) const { return controls_[Index(id)]; }

  HWND window_ = nullptr;
  int dpi_ = kLayoutDpi;
  std::unique_ptr<WindowFonts> fonts_;
  ControlHandles controls_{};
  HWND tooltips_ = nullptr;
  HWND focus_ = nullptr;  // the control to give the focus back to
  // What the controls show now; nothing before the first render.
  std::optional<WindowView> shown_;
  // One brush per label colour in use, kept for the window's life.
  std::map<uint32_t, HBRUSH> brushes_;
  std::unique_ptr<WindowModel> model_;
};

// Registers the window class once per process (and the common controls).
void RegisterWindowClass();

// COLORREF of a 0xRRGGBB colour.
constexpr COLORREF ToColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace tolv::win32
