// One application object for every window test in the program, created on first use.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "app/qt/Application.h"
#include "app/qt/Tmain_f.h"

namespace vorlen::test {

inline TApplication& App() {
  static TApplication* app = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    return new TApplication(argc, argv);  // never destroyed: Qt outlives every static
  }();
  return *app;
}

// The send runs on a worker: handles the window's events until it has ended.
inline void WaitForSend(Tmain_f& window) {
  while (window.Logic().Sending()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace vorlen::test
