// vorlen-sender: the window that sends one file at a time to the Vorlen service.
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <exception>
#include <string>
#include <vector>

#include "app/ErrorHandler.h"
#include "app/qt/Application.h"
#include "app/qt/Tmain_f.h"

int main(int argc, char** argv) {
  // Qt takes its own arguments first; what is left names files to send at once.
  vorlen::TApplication application(argc, argv);
  std::vector<std::string> files;
  for (const QString& argument : QCoreApplication::arguments().mid(1))
    files.push_back(argument.toStdString());
  try {
    vorlen::Tmain_f main_f;
    application.SetErrorView(&main_f);
    main_f.show();
    // From the event loop, so that a close during the send can end it.
    if (!files.empty()) QTimer::singleShot(0, &main_f, [&main_f, &files] { main_f.SendFiles(files); });
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
