// The Qt face of the window model: the controls' signals go to the model,
// the model's view comes back onto the controls.
#include "ui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLocale>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>

namespace tolv {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

void RenderCombo(QComboBox* combo, const ControlView& view) {
  // Showing the model's list and choice is not a choice of the user's.
  const QSignalBlocker blocker(combo);
  QStringList items;
  for (const std::string& item : view.items) items << Text(item);
  QStringList shown;
  for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
  if (shown != items) {
    combo->clear();
    combo->addItems(items);
  }
  if (combo->currentIndex() != view.selected) combo->setCurrentIndex(view.selected);
}

}  // namespace

void ClickableLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && onDoubleClick) onDoubleClick();
  QLabel::mouseDoubleClickEvent(event);
}

TForm1::TForm1(const WindowServices& services, QWidget* parent)
    : QMainWindow(parent), model_(services, *this) {
  setObjectName("Form1");
  ApplyWindowFont();
  BuildMenu();
  BuildControls();
  ApplyWindowFrame();
  ConnectControls();
  model_.RunGuarded([this] { model_.FormCreate(); });
}

TForm1::~TForm1() = default;

// Every event a control can raise, as the model's event.
void TForm1::ConnectControls() {
  for (const ControlDesign& design : ControlTable()) {
    QWidget* widget = controls_[Index(design.id)];
    const ControlId id = design.id;
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      connect(box, &QCheckBox::toggled, this, [this, id](bool checked) { model_.SetChecked(id, checked); });
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      connect(button, &QPushButton::clicked, this, [this, id] { model_.Click(id); });
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      connect(combo, &QComboBox::currentIndexChanged, this,
              [this, id](int index) { model_.SelectItem(id, index); });
    } else if (auto* label = dynamic_cast<ClickableLabel*>(widget)) {
      label->onDoubleClick = [this, id] { model_.DoubleClick(id); };
    }
  }
  for (size_t i = 0; i < kMenuEntryCount; ++i) {
    const auto entry = static_cast<MenuEntryId>(i);
    connect(actions_[i], &QAction::triggered, this, [this, entry] { model_.PickMenuEntry(entry); });
  }
}

void TForm1::RenderControl(const ControlDesign& design, const ControlView& view) {
  QWidget* widget = controls_[Index(design.id)];
  if (widget->isEnabled() != view.enabled) widget->setEnabled(view.enabled);
  if (widget->toolTip() != Text(view.hint)) widget->setToolTip(Text(view.hint));
  if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    if (group->title() != Text(view.caption)) group->setTitle(Text(view.caption));
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    if (button->text() != Text(view.caption)) button->setText(Text(view.caption));
    if (button->isCheckable() && button->isChecked() != view.checked) {
      const QSignalBlocker blocker(button);
      button->setChecked(view.checked);
    }
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    RenderCombo(combo, view);
  } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
    if (bar->value() != view.position) bar->setValue(view.position);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->text() != Text(view.caption)) label->setText(Text(view.caption));
    if (view.colour != kNoColour && LabelColour(label) != view.colour) SetLabelColour(label, view.colour);
  }
}

void TForm1::Render(const WindowView& view) {
  for (const ControlDesign& design : ControlTable()) RenderControl(design, view[design.id]);
  for (size_t i = 0; i < kMenuEntryCount; ++i)
    if (actions_[i]->isEnabled() != view.menuEnabled[i]) actions_[i]->setEnabled(view.menuEnabled[i]);
}

void TForm1::RepaintStatusLine() { Label10->repaint(); }

void TForm1::ProcessPendingMessages() { QCoreApplication::processEvents(); }

void TForm1::CloseWindow() { close(); }

std::string TForm1::DecimalSeparator() const { return QLocale().decimalPoint().toStdString(); }

void TForm1::closeEvent(QCloseEvent* event) {
  if (model_.RequestClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace tolv
