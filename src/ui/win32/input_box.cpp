// The input box as an in-memory dialog template: a DLGTEMPLATE with its
// caption and font, then one DLGITEMTEMPLATE per control, each aligned to 4
// bytes, all sizes in dialog units.
#include "ui/win32/input_box.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tolv::win32 {
namespace {

constexpr WORD kPromptId = 100;
constexpr WORD kEditId = 101;

// Predefined control classes of a dialog item, by atom.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;

class TemplateWriter {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  // A zero-terminated UTF-16 text.
  void Text(const std::wstring& text) {
    for (wchar_t c : text) Word(static_cast<WORD>(c));
    Word(0);
  }
  void AlignToDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  // One control: style, position and size in dialog units, id, class atom and
  // caption, and no creation data.
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
            const std::wstring& caption) {
    AlignToDword();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short value : {x, y, cx, cy}) Word(static_cast<WORD>(value));
    Word(id);
    Word(0xFFFF);
    Word(classAtom);
    Text(caption);
    Word(0);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }
  // The template counts its controls in its fourth word.
  void SetItemCount(WORD count) { words_[4] = count; }

 private:
  std::vector<WORD> words_;
};

struct BoxState {
  const std::wstring* preset;
  std::wstring result;
};

INT_PTR CALLBACK InputBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(box, DWLP_USER, lParam);
      const auto* state = reinterpret_cast<BoxState*>(lParam);
      const HWND edit = GetDlgItem(box, kEditId);
      SetWindowTextW(edit, state->preset->c_str());
      SendMessageW(edit, EM_SETSEL, 0, -1);
      SetFocus(edit);
      return FALSE;  // focus set here
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto* state = reinterpret_cast<BoxState*>(GetWindowLongPtrW(box, DWLP_USER));
        const HWND edit = GetDlgItem(box, kEditId);
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        state->result = text;
        EndDialog(box, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

std::optional<std::wstring> ShowInputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                                         const std::wstring& preset) {
  TemplateWriter t;
  // Header: style, extended style, item count (set below), position, size.
  t.Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  t.Dword(0);
  t.Word(0);
  for (short value : {0, 0, 220, 62}) t.Word(static_cast<WORD>(value));
  // No menu, the standard dialog class, the caption, then the font.
  t.Word(0);
  t.Word(0);
  t.Text(caption);
  t.Word(8);
  t.Text(L"Tahoma");
  t.Item(SS_LEFT | SS_NOPREFIX, 7, 7, 206, 10, kPromptId, kStaticAtom, prompt);
  t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 20, 206, 12, kEditId, kEditAtom, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 109, 40, 50, 14, IDOK, kButtonAtom, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 163, 40, 50, 14, IDCANCEL, kButtonAtom, L"Cancel");
  t.SetItemCount(4);

  BoxState state{&preset, {}};
  const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), owner, InputBoxProc,
                                                 reinterpret_cast<LPARAM>(&state));
  if (answer == -1) throw std::runtime_error("The input box could not be shown.");
  if (answer != IDOK) return std::nullopt;
  return state.result;
}

}  // namespace tolv::win32
