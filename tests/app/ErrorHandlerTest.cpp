#include <gtest/gtest.h>

#include <stdexcept>

#include "support/ScriptedView.h"
#include "app/ErrorHandler.h"
#include "runtime/Exception.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {
template <typename E>
std::exception_ptr Raised(E error) {
  return std::make_exception_ptr(error);
}
}  // namespace

TEST(ErrorHandler, TextGetsOneFullStopAndAbortIsSilent) {
  EXPECT_EQ(ErrorBoxText(Raised(Exception("Connection refused"))), "Connection refused.");
  EXPECT_EQ(ErrorBoxText(Raised(Exception("Done."))), "Done.");
  EXPECT_EQ(ErrorBoxText(Raised(Exception("Грешка!"))), "Грешка!.");
  EXPECT_EQ(ErrorBoxText(Raised(std::runtime_error("std failure"))), "std failure.");
  EXPECT_EQ(ErrorBoxText(Raised(42)), "Unknown exception.");
  EXPECT_EQ(ErrorBoxText(Raised(EAbort())), std::nullopt);
}

TEST(ErrorHandler, GuardShowsWhatEscapesAndKeepsGoing) {
  TScriptedView view;
  EXPECT_FALSE(RunGuarded(view, [] { throw EFOpenError("Cannot open file \"x\""); }));
  EXPECT_FALSE(RunGuarded(view, [] { throw EAbort(); }));
  bool ran = false;
  EXPECT_TRUE(RunGuarded(view, [&] { ran = true; }));
  EXPECT_TRUE(ran);
  EXPECT_EQ(view.Shown, std::vector<std::string>{"error:Cannot open file \"x\"."});
}
