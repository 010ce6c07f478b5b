// vorlen-sender: the window that sends one file at a time to the Vorlen service.
#include <QFileInfo>
#include <QMessageBox>
#include <exception>

#include "app/ErrorHandler.h"
#include "app/qt/TApplication.h"
#include "app/qt/Tmain_f.h"

int main(int argc, char** argv) {
  // Qt needs the arguments for itself; the program reads none.
  vorlen::TApplication application(argc, argv);
  try {
    vorlen::Tmain_f main_f;
    application.SetErrorView(&main_f);
    main_f.show();
    int result = application.exec();
    application.SetErrorView(nullptr);
    return result;
  } catch (...) {
    // Only a window that cannot even be built gets here; say why before leaving.
    if (std::optional<std::string> text = vorlen::ErrorBoxText(std::current_exception())) {
      QMessageBox::critical(nullptr, QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                            QString::fromStdString(*text));
    }
    return 1;
  }
}
