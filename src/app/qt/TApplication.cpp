#include "app/qt/TApplication.h"

#include <QFileInfo>
#include <QMessageBox>

#include "app/ErrorHandler.h"

namespace vorlen {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

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
