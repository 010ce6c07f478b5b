#include "app/qt/Application.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>

#include "app/ErrorHandler.h"

namespace vorlen {

bool LoadQtBulgarian(QTranslator& translator, const QString& folder) {
  return translator.load(
      QStringLiteral("qtbase_bg"),
      folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  if (LoadQtBulgarian(FQtTexts)) installTranslator(&FQtTexts);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    if (FErrorView) {
      ShowException(*FErrorView, error);
    } else if (std::optional<std::string> text = ErrorBoxText(error)) {
      QMessageBox::critical(nullptr, QFileInfo(applicationFilePath()).fileName(),
                            QString::fromStdString(*text));
    }
    return false;
  }
}

}  // namespace vorlen
