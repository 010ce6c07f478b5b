// vorlen-send's terminal side and its ending, with an in-process service.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SendTool.h"
#include "TerminalView.h"
#include "platform/ExePath.h"
#include "proxy/HTTPRIO.h"
#include "support/FakeService.h"
#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"
#include "transport/CurlRequest.h"
#include "send/UploadRules.h"

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
std::string SendThreeHundredParts(bool terminal, bool escapes = true) {
  TSenderState state;
  TTerminalViewOptions options;
  options.Retry = 1;
  options.ErrorIsTerminal = terminal;
  options.ErrorTakesEscapes = escapes;
  options.Sleep = [](std::chrono::milliseconds) {};
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
                       "Нов опит след 1 с.",
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
  EXPECT_NE(std::string::npos,
            bar.find("\r\x1b[K[##############################] 100 %  част 300 от 300 "))
      << bar.substr(bar.size() > 400 ? bar.size() - 400 : 0);
  EXPECT_EQ(std::string::npos, bar.find("част 301")) << "the reset to 0 counted as a part";

  // A console without escape sequences: carriage return, and spaces over what was there.
  const std::string plain = SendThreeHundredParts(true, false);
  EXPECT_EQ(std::string::npos, plain.find('\x1b'));
  const std::string last = "\r[##############################] 100 %  част 300 от 300 ";
  const size_t at = plain.find(last);
  ASSERT_NE(std::string::npos, at) << plain.substr(plain.size() > 400 ? plain.size() - 400 : 0);
  // The bar, padded to the widest one drawn, is blanked by as many spaces as it has characters.
  const size_t end = plain.find('\r', at + 1);
  const std::string drawn = plain.substr(at + 1, end - at - 1);
  const auto columns = static_cast<size_t>(std::count_if(drawn.begin(), drawn.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
  EXPECT_EQ(plain.substr(end),
            "\r" + std::string(columns, ' ') +
                "\rГрешка при изпращане на файл. Желаете ли да пробвате пак? не\n");
}

TEST(TerminalView, AnswersInEitherAlphabetAndLetterCase) {
  TSenderState state;
  TTerminalViewOptions options;
  options.InputIsTerminal = true;
  std::istringstream in("ДА\nYes\n д \r\nНе\nnO\nН\nх\nn\n");
  std::ostringstream err;
  TTerminalView view(state, options, in, err);
  const std::string question = "Желаете ли?";
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(view.Confirm(question)) << k;
  for (int k = 0; k < 4; ++k) EXPECT_FALSE(view.Confirm(question)) << k;  // "х" is asked again
  EXPECT_EQ(err.str(), [&] {
    std::string asked;
    for (int k = 0; k < 8; ++k) asked += question + " [д/н] ";
    return asked;
  }());
  EXPECT_FALSE(view.Confirm(question));  // the end of input
}

// The program leaves nothing of a failed send with the service, as the window's close would.
TEST(SendToolRun, FailureAfterTheSessionOpenedDropsItsParts) {
  TScratchDir dir;
  const std::string file = dir.Write("big.bin", std::string(204801, 'v'));
  const std::string details = ExecutableDir() + "sendDetails.txt";
  std::filesystem::remove(details);  // a leftover of an older build would hide a new one
  auto run = [&](const std::shared_ptr<TFakeService>& service, const std::string& path,
                 std::string& errText) {
    std::istringstream in;
    std::ostringstream out, err;
    const int code = RunSendTool({"--url", "http://127.0.0.1:9/s", "--org", "O", path}, in, out,
                                 err, [&](const std::string& url, const std::string&) -> ISenderServicePtr {
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

  EXPECT_FALSE(std::filesystem::exists(details)) << "written beside the program";
}

TEST(TerminalView, UnattendedRetriesWaitLongerEachRound) {
  TSenderState state;
  TTerminalViewOptions options;
  options.Retry = 9;
  std::vector<long long> waits;
  options.Sleep = [&waits](std::chrono::milliseconds pause) { waits.push_back(pause.count()); };
  std::istringstream in;
  std::ostringstream err;
  TTerminalView view(state, options, in, err);
  const std::string question = "Грешка при изпращане на файл. Желаете ли да пробвате пак?";
  view.PartRead(0, 2, 10);
  for (int round = 0; round < 8; ++round) EXPECT_TRUE(view.Confirm(question));
  // A part that gets through starts the next trouble short again.
  view.PartRead(0, 2, 10);
  view.SetProgress(50);
  view.PartRead(1, 2, 10);
  EXPECT_TRUE(view.Confirm(question));
  EXPECT_FALSE(view.Confirm(question));
  EXPECT_EQ(waits,
            (std::vector<long long>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 1000}));
  const Strings lines = Lines(err.str());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], question + " да");
  EXPECT_EQ(lines[1], "Нов опит след 1 с.");
  EXPECT_EQ(lines[3], "Нов опит след 2 с.");
  EXPECT_EQ(lines.back(), question + " не");
}

// Runs the program's workflow against service with TMPDIR pointing at tempDir.
int RunWithTemp(const Strings& args, const std::shared_ptr<TFakeService>& service,
                const std::string& tempDir, std::string& errText) {
  const test::TScopedEnv temp("TMPDIR", tempDir);
  std::istringstream in;
  std::ostringstream out, err;
  const int code = RunSendTool(args, in, out, err,
                               [&](const std::string&, const std::string&) -> ISenderServicePtr {
                                 return service;
                               });
  errText = err.str();
  return code;
}

TEST(SendToolRun, DetailsFileIsTheRunsOwnAndItsLossFailsTheRun) {
  TScratchDir dir, temp;
  const std::string file = dir.Write("d.bin", "details");
  std::filesystem::remove(ExecutableDir() + "sendDetails.txt");
  const Strings args{"--url", "http://127.0.0.1:9/s", "--org", "Орг 7", file};
  auto service = std::make_shared<TFakeService>();
  Strings seen;  // what the temporary directory held while the details were sent
  service->AfterPart = [&](const std::string& name) {
    if (name != "sendDetails.txt") return;
    for (const auto& entry : std::filesystem::directory_iterator(temp.Path()))
      seen.push_back(entry.path().filename().string());
  };
  std::string err;
  EXPECT_EQ(0, RunWithTemp(args, service, temp.Path(), err)) << err;
  const test::TCall* details = service->Find("UploadFilePart", "sendDetails.txt");
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(0u, details->Bytes.find("\xC8\xE7\xEF\xF0\xE0\xF2\xE5\xED\xEE \xEE\xF2 \xCE\xF0\xE3 7 "
                                    "\xED\xE0 "))
      << details->Bytes;
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(0u, seen[0].find("sendDetails")) << seen[0];
  EXPECT_TRUE(std::filesystem::is_empty(temp.Path())) << "the run left its details file";
  EXPECT_FALSE(std::filesystem::exists(ExecutableDir() + "sendDetails.txt"));

  // The file was merged, but the service does not know who sent it: not a success.
  auto refusing = std::make_shared<TFakeService>();
  refusing->FailPart = [](const std::string& name, int) -> std::optional<bool> {
    if (name == "sendDetails.txt") return false;
    return std::nullopt;
  };
  EXPECT_EQ(1, RunWithTemp(args, refusing, temp.Path(), err));
  EXPECT_NE(std::string::npos, err.find("Грешка при изпращане на информация за подателя.\n"))
      << err;
  EXPECT_NE(nullptr, refusing->Find("MergeFile", "d.bin"));
  EXPECT_TRUE(std::filesystem::is_empty(temp.Path()));
}

TEST(SendToolRun, OnlyRegularFilesArePackedAndNothingIsAskedOtherwise) {
  TScratchDir dir;
  for (const std::string& path : {dir.PathWithSeparator() + ".", std::string("/dev/null")}) {
    auto service = std::make_shared<TFakeService>();
    std::string err;
    EXPECT_EQ(1, RunWithTemp({"--url", "http://127.0.0.1:9/s", "--org", "O", "--pack", path},
                             service, dir.Path(), err));
    EXPECT_NE(std::string::npos, err.find("Грешка при архивиране на файл: " + path + "\n")) << err;
    EXPECT_TRUE(service->Calls.empty()) << service->Trace().front();
  }
}

TEST(SendToolRun, PeerTextIsShownSafely) {
  TScratchDir dir;
  const std::string file = dir.Write("s.bin", "x");
  auto service = std::make_shared<TFakeService>();
  // A retitling, clearing session id, 8 MiB long.
  service->SessionId = "\x1b]0;pwned\x07\x1b[2J" + std::string(8 << 20, 'S');
  service->OnCall = [](const std::string& op) {
    if (op == "MergeFile") throw Exception("fault \xE2\x80\xAEtxt.exe\x1b[1A");
  };
  std::string err;
  EXPECT_EQ(1, RunWithTemp({"--url", "http://127.0.0.1:9/s", "--org", "O", file}, service,
                           dir.Path(), err));
  EXPECT_EQ(std::string::npos, err.find('\x1b'));
  EXPECT_EQ(std::string::npos, err.find('\x07'));
  for (const std::string& line : Lines(err))
    EXPECT_LE(line.size(), 4096u + 64) << line.substr(0, 80);
  EXPECT_NE(
      std::string::npos,
      err.find("Изпращане на файлове - Сесия \xEF\xBF\xBD]0;pwned\xEF\xBF\xBD\xEF\xBF\xBD[2JSSS"))
      << err.substr(0, 200);
  EXPECT_NE(std::string::npos, err.find("fault \xEF\xBF\xBDtxt.exe\xEF\xBF\xBD[1A\n"))
      << err.substr(0, 200);
  // The service still gets the id it gave, unchanged.
  EXPECT_EQ(service->Calls.back().Sess, service->SessionId);
}

// vorlen-send waits as long as the window for an answer: a merge takes minutes. It checks
// certificates, trusting only the fingerprint it was given.
TEST(SendToolRun, BindsWithTheWindowsLongReceiveTimeout) {
  const std::string fingerprint(95, 'A');
  const auto rio = std::dynamic_pointer_cast<THTTPRIO>(
      BindSendToolService("https://127.0.0.1:9/s", fingerprint));
  ASSERT_NE(rio, nullptr);
  THTTPReqResp& node = rio->HTTPWebNode();
  EXPECT_FALSE(node.InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts));
  EXPECT_EQ(node.TrustedCertificate, fingerprint);
  ASSERT_TRUE(node.OnBeforePost);
  TCurlRequest request(nullptr, "http://127.0.0.1:9/s");
  request.SetReceiveTimeoutMs(60000);
  node.OnBeforePost(node, request);
  EXPECT_EQ(request.ReceiveTimeoutMs(), 600000);
}

}  // namespace
}  // namespace vorlen
