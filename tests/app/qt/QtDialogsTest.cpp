// The window's own boxes (no scripted answers): captions, icons, buttons, the input limit.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <memory>

#include "../Fakes.h"
#include "QtApp.h"
#include "app/qt/Tmain_f.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

// Runs answer on the next modal box as soon as it is up; records that it ran.
void AnswerNextModal(std::function<void(QWidget*)> answer, int* answered) {
  QTimer::singleShot(0, [answer = std::move(answer), answered] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      ++*answered;
      answer(modal);
    } else {
      AnswerNextModal(answer, answered);  // not shown yet: look again
    }
  });
}

struct TQtBoxes {
  TScratchDir Dir;
  std::unique_ptr<Tmain_f> Window;
  int Answered = 0;

  TQtBoxes() {
    App();
    Dir.Write("sendcfg.ini", "url=http://127.0.0.1:9/s\r\norg=O\r\n");
    TMainWindowOptions options;
    options.ExePath = Dir.PathWithSeparator() + "vorlen-sender";
    options.Registry = std::make_unique<TMemoryRegistry>();
    options.Binder = [](const std::string&) { return std::make_shared<TFakeService>(); };
    Window = std::make_unique<Tmain_f>(std::move(options));
  }
};

}  // namespace

TEST(QtDialogs, MessageBoxesCarryTheExecutableNameIconAndButtons) {
  TQtBoxes f;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title, text;
  QMessageBox::StandardButtons buttons;
  auto read = [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    title = box->windowTitle();
    text = box->text();
    buttons = box->standardButtons();
  };
  auto readAndClick = [&](QMessageBox::StandardButton button) {
    AnswerNextModal(
        [&, button](QWidget* m) {
          read(m);
          static_cast<QMessageBox*>(m)->button(button)->click();
        },
        &f.Answered);
  };

  readAndClick(QMessageBox::Ok);
  f.Window->ShowError("Сбой.");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(title, "vorlen-sender");
  EXPECT_EQ(text, QString::fromUtf8("Сбой."));
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  readAndClick(QMessageBox::Ok);
  f.Window->Inform("В момента не може да прекратите програмата!");
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(title, "vorlen-sender");
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  readAndClick(QMessageBox::No);
  EXPECT_FALSE(f.Window->Confirm("Наистина ли желаете да прекратите изпращането на файла?"));
  EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
  readAndClick(QMessageBox::Yes);
  EXPECT_TRUE(f.Window->Confirm("?"));
  EXPECT_EQ(f.Answered, 4);
}

TEST(QtDialogs, InputBoxShowsTheValueLimitsLengthAndHidesPasswords) {
  TQtBoxes f;
  int maxLength = 0;
  QString shown, title, label;
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  auto answer = [&](const QString& typed, bool accept) {
    AnswerNextModal(
        [&, typed, accept](QWidget* modal) {
          auto* dialog = qobject_cast<QInputDialog*>(modal);
          ASSERT_NE(dialog, nullptr);
          QLineEdit* edit = dialog->findChild<QLineEdit*>();
          ASSERT_NE(edit, nullptr);
          maxLength = edit->maxLength();
          shown = edit->text();
          echo = edit->echoMode();
          title = dialog->windowTitle();
          label = dialog->labelText();
          dialog->setTextValue(typed);
          accept ? dialog->accept() : dialog->reject();
        },
        &f.Answered);
  };

  std::string value = "   ";
  answer(" http://h/ ", true);
  EXPECT_TRUE(f.Window->InputQuery("Въведете URL на уеб сървиса", "url", value));
  EXPECT_EQ(value, " http://h/ ");
  EXPECT_EQ(shown, "   ");
  EXPECT_EQ(maxLength, 255);
  EXPECT_EQ(title, QString::fromUtf8("Въведете URL на уеб сървиса"));
  EXPECT_EQ(label, "url");
  EXPECT_EQ(echo, QLineEdit::Normal);

  answer("ignored", false);
  EXPECT_FALSE(f.Window->InputQuery("c", "p", value));
  EXPECT_EQ(value, " http://h/ ");

  std::string user = "u0";
  std::string password;
  answer("ivan", true);
  answer("s3cret", true);
  EXPECT_TRUE(f.Window->CredentialsQuery(false, user, password));
  EXPECT_EQ(user, "ivan");
  EXPECT_EQ(password, "s3cret");
  EXPECT_EQ(echo, QLineEdit::Password);  // the second box was the password
  EXPECT_EQ(f.Answered, 4);
}
