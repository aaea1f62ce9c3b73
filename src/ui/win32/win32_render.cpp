// Rendering the model's view onto the Win32 controls: only what changed since
// the last render is sent to a control, so the many renders of a transfer
// cost little.
#include "ui/win32/win32_window.h"
// After windows.h, which it needs.
#include <commctrl.h>

#include "common/windows_text.h"

namespace tolv::win32 {
namespace {

void SetText(HWND control, const std::string& text) { SetWindowTextW(control, Utf8ToWide(text).c_str()); }

void FillList(HWND combo, const std::vector<std::string>& items) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items)
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
}

}  // namespace

void Win32Window::Render(const WindowView& view) {
  const bool first = !shown_.has_value();
  RememberFocus();
  for (const ControlDesign& design : ControlTable()) {
    const ControlView* before = first ? nullptr : &(*shown_)[design.id];
    RenderControl(design.id, before, view[design.id]);
  }
  RenderMenu(view, first);
  shown_ = view;
  // A control that had the focus and is disabled now has lost it: the next
  // one takes it, so that the keys still work.
  if (GetFocus() == nullptr && GetActiveWindow() == window_) RestoreFocus();
}

// before is what the control shows now, nullptr when nothing was rendered yet.
void Win32Window::RenderControl(ControlId id, const ControlView* before, const ControlView& view) {
  const HWND control = Control(id);
  const ControlKind kind = tolv::Control(id).kind;
  const auto changed = [before](auto member, const auto& value) {
    return !before || before->*member != value;
  };
  if (kind != ControlKind::ComboBox && kind != ControlKind::ProgressBar &&
      changed(&ControlView::caption, view.caption))
    SetText(control, view.caption);
  if (changed(&ControlView::hint, view.hint))
    SetTooltipText(tooltips_, window_, control, Utf8ToWide(view.hint));
  if (changed(&ControlView::enabled, view.enabled)) EnableWindow(control, view.enabled);
  if (kind == ControlKind::CheckBox && changed(&ControlView::checked, view.checked))
    SendMessageW(control, BM_SETCHECK, view.checked ? BST_CHECKED : BST_UNCHECKED, 0);
  // The label's colour comes with its next painting (WM_CTLCOLORSTATIC).
  if (kind == ControlKind::ColouredLabel && changed(&ControlView::colour, view.colour))
    InvalidateRect(control, nullptr, TRUE);
  if (kind == ControlKind::ProgressBar && changed(&ControlView::position, view.position))
    SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
  if (kind == ControlKind::ComboBox) {
    const bool newItems = changed(&ControlView::items, view.items);
    if (newItems) FillList(control, view.items);
    if (newItems || changed(&ControlView::selected, view.selected))
      SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(view.selected), 0);
  }
}

void Win32Window::RenderMenu(const WindowView& view, bool first) {
  const HMENU menu = GetMenu(window_);
  for (size_t i = 0; i < kMenuEntryCount; ++i) {
    const auto entry = static_cast<MenuEntryId>(i);
    const bool enabled = view.Enabled(entry);
    if (!first && shown_->Enabled(entry) == enabled) continue;
    EnableMenuItem(menu, static_cast<UINT>(MenuCommandId(entry)),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
}

void Win32Window::RepaintStatusLine() {
  const HWND line = Control(ControlId::Label10);
  InvalidateRect(line, nullptr, TRUE);
  UpdateWindow(line);
}

HBRUSH Win32Window::BrushFor(uint32_t rgb) {
  const auto found = brushes_.find(rgb);
  if (found != brushes_.end()) return found->second;
  const HBRUSH brush = CreateSolidBrush(ToColorRef(rgb));
  brushes_.emplace(rgb, brush);
  return brush;
}

// The coloured labels: window-text colour on their opaque colour (the start
// colour until the first render). Every other static text, check box and
// group box: on the button face.
LRESULT Win32Window::OnStaticColour(HDC dc, HWND control) {
  const std::optional<ControlId> id = ControlForChildId(GetDlgCtrlID(control));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  if (id && tolv::Control(*id).kind == ControlKind::ColouredLabel) {
    uint32_t colour = shown_ ? (*shown_)[*id].colour : kNoColour;
    if (colour == kNoColour) colour = tolv::Control(*id).startColour;
    SetBkColor(dc, ToColorRef(colour));
    return reinterpret_cast<LRESULT>(BrushFor(colour));
  }
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace tolv::win32
