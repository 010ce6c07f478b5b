#include <gtest/gtest.h>

#include <stdexcept>

#include "app/ErrorHandler.h"
#include "runtime/Exception.h"
#include "support/ScriptedView.h"

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

TEST(ErrorHandler, PeerTextInAnErrorIsMadeSafe) {
  // A fault text with a terminal sequence and a right-to-left override, 8 MiB long.
  const std::string fault =
      "Fault \x1b[2J\xE2\x80\xAE"
      "fdp.exe " +
      std::string(8 << 20, 'f');
  const std::optional<std::string> text = ErrorBoxText(Raised(Exception(fault)));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->substr(0, 25),
            "Fault \xEF\xBF\xBD[2J\xEF\xBF\xBD"
            "fdp.exe ff");
  EXPECT_EQ(text->size(), 4097u);  // cut to 4,096 bytes with "…", then the full stop
  EXPECT_EQ(text->substr(text->size() - 4), "\xE2\x80\xA6.");
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
