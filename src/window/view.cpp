// The window's view: colours, captions, enabled and checked states from the
// workspace and the window's state.
#include "window/view.h"

#include <algorithm>

#include "flash/model_list.h"

namespace tolv {
namespace {

using C = ControlId;

constexpr C kComponentLabels[kComponentCount] = {C::Label1, C::Label2, C::Label3,
                                                 C::Label4, C::Label5, C::Label11};
constexpr C kLoadBoxes[kComponentCount] = {C::CheckBox1, C::CheckBox2, C::CheckBox3,
                                           C::CheckBox4, C::CheckBox5, C::CheckBox13};
constexpr C kSaveBoxes[kComponentCount] = {C::CheckBox6, C::CheckBox7,  C::CheckBox8,
                                           C::CheckBox9, C::CheckBox10, C::CheckBox14};

bool Locked(const WindowState& state) { return state.controlsLocked; }

// The status line shows one line: a trailing carriage return (the progress
// text ends in one) or line feed is not shown.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

void ShowComponents(const Workspace& workspace, WindowView& view) {
  for (ComponentKind kind : kAllComponents)
    view.controls[Index(ComponentLabel(kind))].colour =
        workspace.Present(kind) ? kColourPresent : kColourAbsent;
  // The layout recognised in the settings present lights its label; settings
  // of no known layout light none, whatever an earlier image's was.
  const bool recognised = workspace.Present(ComponentKind::Flash) && workspace.sectionTableMatchesFlash;
  const uint8_t layout = recognised ? workspace.layoutVariant : kLayoutNone;
  const std::pair<C, uint8_t> layouts[] = {
      {C::Label6, kLayoutDvbS}, {C::Label7, kLayoutDvbT}, {C::Label8, kLayoutDvbC}};
  for (const auto& [label, variant] : layouts)
    view.controls[Index(label)].colour = layout == variant ? kColourLayoutLit : kColourLayoutUnlit;
}

// The SystemID with its model name; empty while not set. The name is looked
// up also for 0. A model file that cannot be read names the model unknown,
// and its error goes with the view.
void ShowSystemId(const Workspace& workspace, WindowView& view) {
  const std::string modelName = Model_GetNameOrUnknown(workspace.systemId, view.modelListError);
  ControlView& label = view.controls[Index(C::Label9)];
  if (workspace.systemId == 0) {
    label.colour = kColourSystemIdUnset;
    label.caption.clear();
  } else {
    label.colour = kColourSystemIdSet;
    label.caption = std::to_string(workspace.systemId) + " (" + modelName + ")";
  }
}

void ShowState(const WindowState& state, WindowView& view) {
  view.controls[Index(C::ComboBox1)].items = state.ports;
  view.controls[Index(C::ComboBox1)].selected = state.loadPort;
  view.controls[Index(C::ComboBox2)].items = state.ports;
  view.controls[Index(C::ComboBox2)].selected = state.savePort;
  Window_ShowTransferState(view, state);
}

}  // namespace

ControlId ComponentLabel(ComponentKind kind) { return kComponentLabels[static_cast<size_t>(kind)]; }
ControlId LoadCheckBox(ComponentKind kind) { return kLoadBoxes[static_cast<size_t>(kind)]; }
ControlId SaveCheckBox(ComponentKind kind) { return kSaveBoxes[static_cast<size_t>(kind)]; }

std::optional<ComponentKind> SaveCheckBoxComponent(ControlId id) {
  for (ComponentKind kind : kAllComponents)
    if (SaveCheckBox(kind) == id) return kind;
  return std::nullopt;
}

void Window_ShowTransferState(WindowView& view, const WindowState& state) {
  view.controls[Index(C::Label10)].caption = OneLine(state.statusText);
  view.controls[Index(C::Label10)].hint = state.statusHint;
  view.controls[Index(C::PB1)].position = std::clamp(state.progress, kProgressMin, kProgressMax);
  for (TransferKind kind : {TransferKind::FromToppy, TransferKind::ToToppy})
    view.controls[Index(TransferButton(kind))].caption = TransferButtonCaption(kind, state);
}

bool ControlLockedDuringTransfer(ControlId id) {
  switch (id) {
    case C::ButtonLoadSTD:
    case C::ButtonLoadTFD:
    case C::ButtonLoadFromToppy:
    case C::ButtonSaveSTD:
    case C::ButtonSaveTFD:
    case C::ButtonSaveToToppy: return true;
    default: break;
  }
  for (ComponentKind kind : kAllComponents)
    if (id == LoadCheckBox(kind) || id == SaveCheckBox(kind)) return true;
  return false;
}

bool MenuEntryLockedDuringTransfer(MenuEntryId id) {
  // The jobs use the link themselves.
  if (id == MenuEntryId::MenuToppyBackUp || id == MenuEntryId::MenuToppyRestore ||
      id == MenuEntryId::MenuToppyCompare)
    return true;
  return Index(id) >= Index(MenuEntryId::MenuLoadLoaderBIN) &&
         Index(id) <= Index(MenuEntryId::MenuSaveFlashBlocks);
}

ControlId TransferButton(TransferKind kind) {
  return kind == TransferKind::ToToppy ? C::ButtonSaveToToppy : C::ButtonLoadFromToppy;
}

const char* TransferIdleCaption(TransferKind kind) {
  return kind == TransferKind::ToToppy ? "To Toppy" : "From Toppy";
}

std::string TransferButtonCaption(TransferKind kind, const WindowState& state) {
  const bool running = kind != TransferKind::None && state.transfer == kind;
  const bool restored = kind == TransferKind::FromToppy && state.fromToppyCaptionRestored;
  return running && !restored ? kCancelTransferCaption : TransferIdleCaption(kind);
}

bool ControlEnabled(ControlId id, const Workspace& workspace, const WindowState& state) {
  // The running transfer's button is the way to cancel it.
  if (state.transfer != TransferKind::None && id == TransferButton(state.transfer)) return true;
  if (Locked(state) && ControlLockedDuringTransfer(id)) return false;
  if (std::optional<ComponentKind> kind = SaveCheckBoxComponent(id)) return workspace.Present(*kind);
  if (std::optional<CommandId> command = CommandForClick(id)) return Command_Available(*command, workspace);
  return true;
}

bool MenuEntryEnabled(MenuEntryId id, const Workspace& workspace, const WindowState& state) {
  if (Locked(state) && MenuEntryLockedDuringTransfer(id)) return false;
  return Command_Available(CommandForMenuEntry(id), workspace);
}

WindowView Window_View(const Workspace& workspace, const WindowState& state) {
  WindowView view;
  for (const ControlDesign& design : ControlTable()) {
    ControlView& control = view.controls[Index(design.id)];
    control.caption = design.caption;
    control.hint = design.hint;
    control.enabled = ControlEnabled(design.id, workspace, state);
    control.checked = design.kind == ControlKind::CheckBox && state.checked[Index(design.id)];
  }
  for (size_t i = 0; i < kMenuEntryCount; ++i)
    view.menuEnabled[i] = MenuEntryEnabled(static_cast<MenuEntryId>(i), workspace, state);
  ShowComponents(workspace, view);
  ShowSystemId(workspace, view);
  ShowState(state, view);
  return view;
}

}  // namespace tolv
