// The application object: no exception may cross into Qt's event loop, so whatever an event
// handler lets escape is shown in the error box here and the loop goes on.
#pragma once

#include <QApplication>

#include "upload/IOperatorView.h"

namespace vorlen {

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);

  // Where uncaught errors are shown; until a window exists they go to a plain Qt box.
  void SetErrorView(IOperatorView* view) { FErrorView = view; }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  IOperatorView* FErrorView = nullptr;
};

}  // namespace vorlen
