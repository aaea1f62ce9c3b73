// The window's message boxes and input box as a person sees them: caption,
// icon, buttons and what each answer gives back.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include "ui/qt_interaction.h"
#include "ui_test_support.h"

namespace tolv::test {
namespace {

// Runs inspect on the modal box shown next, which it must close.
void WhenBoxShows(std::function<void(QWidget*)> inspect) {
  QTimer::singleShot(0, [inspect] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    inspect(box);
  });
}

TEST(QtInteraction, InformationHasTheCaptionTheIconAndOk) {
  EnsureQtApplication();
  QtUserInteraction interaction;
  WhenBoxShows([](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle().toStdString(), "TolvPack");
    EXPECT_EQ(box->text().toStdString(), "Invalid file size (<>64kB)");
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->parentWidget(), nullptr) << "no owner window";
    box->button(QMessageBox::Ok)->click();
  });
  interaction.Information("Invalid file size (<>64kB)");

  WhenBoxShows([](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    box->button(QMessageBox::Ok)->click();
  });
  interaction.Message("Please enter a valid system ID");
}

TEST(QtInteraction, QuestionsAnswerYesOrNo) {
  EnsureQtApplication();
  QtUserInteraction interaction;
  for (const bool yes : {true, false}) {
    WhenBoxShows([yes](QWidget* widget) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle().toStdString(), "TolvPack");
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    EXPECT_EQ(interaction.Question("Unload all data?"), yes);
  }
}

TEST(QtInteraction, InputBoxGivesTheTextOrThePresetWhenCancelled) {
  EnsureQtApplication();
  QtUserInteraction interaction;
  WhenBoxShows([](QWidget* widget) {
    auto* dialog = qobject_cast<QInputDialog*>(widget);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Tolv Pack");
    EXPECT_EQ(dialog->labelText().toStdString(), "Enter the targets SystemID.");
    EXPECT_EQ(dialog->textValue().toStdString(), "406");
    dialog->setTextValue("1416");
    dialog->accept();
  });
  EXPECT_EQ(interaction.InputText("Tolv Pack", "Enter the targets SystemID.", "406"), "1416");

  WhenBoxShows([](QWidget* widget) {
    auto* dialog = qobject_cast<QInputDialog*>(widget);
    ASSERT_NE(dialog, nullptr);
    dialog->setTextValue("999");
    dialog->reject();
  });
  EXPECT_EQ(interaction.InputText("Tolv Pack", "Enter the targets SystemID.", "406"), "406");
}

}  // namespace
}  // namespace tolv::test
