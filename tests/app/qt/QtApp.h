// One application object for every window test in the program, created on first use.
#pragma once

#include <QCoreApplication>

#include "app/qt/TApplication.h"

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

}  // namespace vorlen::test
