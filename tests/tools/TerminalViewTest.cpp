// vorlen-send's terminal side and its ending, with an in-process service.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SendTool.h"
#include "TerminalView.h"
#include "platform/ExePath.h"
#include "support/FakeService.h"
#include "support/ScratchDir.h"
#include "upload/UploadRules.h"

namespace vorlen {
namespace {

using test::TFakeService;
using test::TScratchDir;
using Strings = std::vector<std::string>;

Strings Lines(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// 300 parts: the first ones still show 0 % and must be counted all the same.
std::string SendThreeHundredParts(bool terminal) {
  TSenderState state;
  TTerminalViewOptions options;
  options.Retry = 1;
  options.ErrorIsTerminal = terminal;
  std::istringstream in;
  std::ostringstream err;
  TTerminalView view(state, options, in, err);
  const int32_t lastIndex = 299;
  for (int32_t i = 0; i <= lastIndex; ++i) {
    view.PartRead(i, lastIndex + 1, 204800);
    if (i == 150) {  // four failed attempts, answered Yes by --retry 1: the part is read again
      EXPECT_TRUE(view.Confirm("Грешка при изпращане на файл. Желаете ли да пробвате пак?"));
      view.PartRead(i, lastIndex + 1, 204800);
    }
    view.SetProgress(PartProgress(lastIndex, i + 1));
  }
  // Then given up on a part: the reset to 0 is neither a part nor a progress line.
  view.PartRead(0, 1, 5);
  EXPECT_FALSE(view.Confirm("Грешка при изпращане на файл. Желаете ли да пробвате пак?"));
  view.SetProgress(0);
  return err.str();
}

TEST(TerminalView, ProgressCountsEveryAcceptedPart) {
  // Without a terminal: one line per 10 %, each with the parts accepted so far.
  const Strings lines = Lines(SendThreeHundredParts(false));
  const Strings starts{" 10 %  част 29 от 300 ",
                       " 20 %  част 59 от 300 ",
                       " 30 %  част 89 от 300 ",
                       " 40 %  част 119 от 300 ",
                       " 50 %  част 149 от 300 ",
                       "Грешка при изпращане на файл. Желаете ли да пробвате пак? да",
                       " 60 %  част 179 от 300 ",
                       " 70 %  част 209 от 300 ",
                       " 80 %  част 239 от 300 ",
                       " 90 %  част 269 от 300 ",
                       "100 %  част 299 от 300 ",
                       "Грешка при изпращане на файл. Желаете ли да пробвате пак? не"};
  ASSERT_EQ(starts.size(), lines.size());
  for (size_t k = 0; k < starts.size(); ++k) EXPECT_EQ(0u, lines[k].find(starts[k])) << lines[k];

  // On a terminal the bar is redrawn after every part; the last one counts all 300.
  const std::string bar = SendThreeHundredParts(true);
  EXPECT_NE(std::string::npos, bar.find("\r\x1b[K[##############################] 100 %  част 300 от 300 "))
      << bar.substr(bar.size() > 400 ? bar.size() - 400 : 0);
  EXPECT_EQ(std::string::npos, bar.find("част 301")) << "the reset to 0 counted as a part";
}

// The program leaves nothing of a failed send with the service, as the window's close would.
TEST(SendToolRun, FailureAfterTheSessionOpenedDropsItsParts) {
  TScratchDir dir;
  const std::string file = dir.Write("big.bin", std::string(204801, 'v'));
  const std::string details = ExecutableDir() + "sendDetails.txt";
  auto run = [&](const std::shared_ptr<TFakeService>& service, const std::string& path,
                 std::string& errText) {
    std::istringstream in;
    std::ostringstream out, err;
    const int code = RunSendTool({"--url", "http://127.0.0.1:9/s", "--org", "O", path}, in, out,
                                 err, [&](const std::string& url) -> ISenderServicePtr {
                                   EXPECT_EQ("http://127.0.0.1:9/s", url);
                                   return service;
                                 });
    errText = err.str();
    return code;
  };

  // The merge fails with an error: shown, then the parts are dropped.
  auto merging = std::make_shared<TFakeService>();
  merging->OnCall = [](const std::string& op) {
    if (op == "MergeFile") throw Exception("Merge timed out");
  };
  std::string err;
  EXPECT_EQ(1, run(merging, file, err));
  EXPECT_NE(std::string::npos, err.find("Merge timed out\n")) << err;
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart:S42:big._000", "UploadFilePart:S42:big._001",
                     "UploadFilePart:S42:sendDetails.txt", "DelTempFiles:S42"}),
            merging->Log());  // the merge raised before the service recorded it

  // The file cannot be opened once the session is there: the empty session is dropped too.
  auto opening = std::make_shared<TFakeService>();
  EXPECT_EQ(1, run(opening, dir.PathWithSeparator() + "missing.bin", err));
  EXPECT_NE(std::string::npos, err.find("missing.bin")) << err;
  EXPECT_EQ((Strings{"GetSession", "DelTempFiles:S42"}), opening->Log());

  // A send that went through sends the clean-up once, as the workflow's own last call.
  auto fine = std::make_shared<TFakeService>();
  EXPECT_EQ(0, run(fine, file, err));
  const Strings log = fine->Log();
  EXPECT_EQ("DelTempFiles:S42", log.back());
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "DelTempFiles:S42"));

  std::filesystem::remove(details);  // written beside the test program
}

}  // namespace
}  // namespace vorlen
