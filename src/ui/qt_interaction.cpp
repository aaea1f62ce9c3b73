#include "ui/qt_interaction.h"

#include <QInputDialog>
#include <QMessageBox>

namespace tolv {
namespace {

const QString kCaption = QStringLiteral("TolvPack");

// Question icon, Yes and No; Escape and closing the box answer No.
bool AskYesNo(const std::string& text, QMessageBox::StandardButton defaultButton) {
  QMessageBox box(QMessageBox::Question, kCaption, QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(defaultButton);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace

// Message boxes have no owner window: they stand on their own, centred on
// the screen, as the window's notices always have.
void QtUserInteraction::Information(const std::string& text) {
  QMessageBox box(QMessageBox::Information, kCaption, QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

void QtUserInteraction::Message(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kCaption, QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

bool QtUserInteraction::Question(const std::string& text) { return AskYesNo(text, QMessageBox::Yes); }

bool QtUserInteraction::QuestionDefaultNo(const std::string& text) { return AskYesNo(text, QMessageBox::No); }

std::string QtUserInteraction::InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& preset) {
  bool accepted = false;
  const QString text =
      QInputDialog::getText(nullptr, QString::fromStdString(caption), QString::fromStdString(prompt),
                            QLineEdit::Normal, QString::fromStdString(preset), &accepted);
  return accepted ? text.toStdString() : preset;
}

}  // namespace tolv
