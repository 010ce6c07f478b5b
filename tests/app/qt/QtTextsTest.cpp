#include <gtest/gtest.h>

#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "QtApp.h"
#include "app/qt/Application.h"
#include "support/ScratchDir.h"

using namespace vorlen;

TEST(QtTexts, QtsOwnDialogsSpeakBulgarianWhenTheTranslationIsInstalled) {
  test::App();
  QTranslator missing;
  test::TScratchDir empty;
  EXPECT_FALSE(LoadQtBulgarian(missing, QString::fromStdString(empty.Path().string())));
  EXPECT_TRUE(missing.isEmpty());

  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!QFile::exists(folder + "/qtbase_bg.qm")) {
    GTEST_SKIP() << "qtbase_bg.qm is not in " << folder.toStdString()
                 << " (Debian package qt6-translations-l10n)";
  }
  // The application object installed it: Qt's file dialog and standard buttons are Bulgarian.
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:").toStdString(), "Преглед на:");
  QMessageBox box(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text().toStdString(), "&Да");
  EXPECT_EQ(box.button(QMessageBox::No)->text().toStdString(), "&Не");
}
