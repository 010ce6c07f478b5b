// The application object: no exception may cross into Qt's event loop, so whatever an event
// handler lets escape is shown in the error box here and the loop goes on.
#pragma once

#include <QApplication>
#include <QString>
#include <QTranslator>

#include "send/IOperatorView.h"

namespace vorlen {

// Loads Qt's own Bulgarian texts (file dialog, standard buttons) from folder, by default Qt's
// translations folder; false when the file is not there, and Qt's texts stay English.
bool LoadQtBulgarian(QTranslator& translator, const QString& folder = {});

class TApplication : public QApplication {
 public:
  // Installs Qt's Bulgarian texts when they are installed, so that Qt's dialogs speak the
  // window's language.
  TApplication(int& argc, char** argv);

  // Where uncaught errors are shown; until a window exists they go to a plain Qt box.
  void SetErrorView(IOperatorView* view) { FErrorView = view; }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  IOperatorView* FErrorView = nullptr;
  QTranslator FQtTexts;
};

}  // namespace vorlen
