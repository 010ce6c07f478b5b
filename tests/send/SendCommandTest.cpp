#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "archive/ZLBArchive.h"
#include "support/FakeService.h"
#include "support/Files.h"
#include "support/GeneratedStream.h"
#include "support/Pattern.h"
#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"
#include "support/ScriptedView.h"
#include "send/SendCommand.h"

namespace vorlen {
namespace {

using test::Pattern;
using test::ReadFile;
using test::TFakeService;
using test::TScratchDir;
using test::TScriptedView;
using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

const char* const kRetryQuestion =
    "confirm:Грешка при изпращане на файл. Желаете ли да пробвате пак?";

// Reference CRC from zlib, independent of the code under test.
std::string ZlibHash(const std::string& bytes) {
  const uLong crc =
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  char text[9];
  std::snprintf(text, sizeof text, "%08lX", crc);
  return text;
}

class SendCommandTest : public ::testing::Test {
 protected:
  SendCommandTest() {
    State.ServiceIntf = Service;
    State.FOrg = "Тест";
    std::filesystem::create_directory(Dir.PathWithSeparator() + "tmp");
  }

  // A command as the window would make it, with the details file and the temporary archive
  // inside the scratch directory and a fixed date.
  TSendCommand Command() {
    TSendCommand command(State, View);
    command.DetailsDir = Dir.PathWithSeparator();
    command.TempDir = Dir.PathWithSeparator() + "tmp/";
    command.Today = [] { return std::string("07.12.2026"); };
    command.Parallel = Parallel;
    command.NewPartService = [this] {
      ++Connections;
      return Service;
    };
    command.OnPartFailed = [this](int32_t index) {
      Failed.push_back(index);
      if (OnPartFailed) OnPartFailed(index);
    };
    return command;
  }
  std::string Send(const std::string& path) {
    View.OpenFileAnswers.push_back(path);
    TSendCommand command = Command();
    command.btSendClick();
    Outcome = command.Outcome();
    return path;
  }
  std::vector<const test::TCall*> Parts() const {
    std::vector<const test::TCall*> parts;
    for (const test::TCall& c : Service->Calls)
      if (c.Op == "UploadFilePart" && c.Name != "sendDetails.txt") parts.push_back(&c);
    return parts;
  }

  TScratchDir Dir;
  std::shared_ptr<TFakeService> Service = std::make_shared<TFakeService>();
  TScriptedView View;
  TSenderState State;
  TSendCommand::TOutcome Outcome = TSendCommand::ocNone;
  int Parallel = 1;     // parts in flight
  int Connections = 0;  // service references made for them
  std::vector<int32_t> Failed;  // parts that failed their attempts, as the sender learnt of them
  std::function<void(int32_t index)> OnPartFailed;
};

// The details line of org "Тест" on 07.12.2026, in Windows-1251.
const char kDetails[] =
    "\xC8\xE7\xEF\xF0\xE0\xF2\xE5\xED\xEE \xEE\xF2 \xD2\xE5\xF1\xF2 \xED\xE0 07.12.2026\r\n";

TEST_F(SendCommandTest, PlainFileIsPackedMergedAndUnpacked) {
  View.Ticked = false;
  const std::string content = "%PDF-1.4 a small report\n";
  Dir.Write("tmp/vorarch.rar", "an archive left by the previous send");
  std::string states;
  Service->OnCall = [&](const std::string&) { states += std::to_string(State.FState); };
  Send(Dir.Write("report.pdf", content));
  EXPECT_EQ("111222", states);  // session, part, details; merge, unpack, clean-up

  EXPECT_EQ(TSendCommand::ocDone, Outcome);
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart vorarch._000", "UploadFilePart sendDetails.txt",
                     "MergeFile vorarch.rar", "UnZip", "DelTempFiles"}),
            Service->Trace());
  for (const test::TCall& c : Service->Calls) {
    if (c.Op != "GetSession") {
      EXPECT_EQ("S42", c.Sess) << c.Op;
    }
  }
  // The part is the temporary archive, which goes once the send has ended.
  EXPECT_FALSE(std::filesystem::exists(Dir.PathWithSeparator() + "tmp/vorarch.rar"));
  const std::string archive = Service->Calls[1].Bytes;
  ASSERT_FALSE(archive.empty());
  EXPECT_EQ(std::string::npos, archive.find("previous send"));
  EXPECT_EQ(ZlibHash(archive), Service->Calls[1].Hash);
  EXPECT_EQ(0, Service->Find("MergeFile", "vorarch.rar")->Parts);
  EXPECT_FALSE(View.Ticked);
  EXPECT_EQ((Strings{"Архивиране на файл. Моля изчакайте.....", "Изпращане на файлове - Сесия S42",
                     "Разпакетиране. Моля, изчакайте......", "Сесия S42 - Готово"}),
            View.Captions);
  EXPECT_EQ(100, View.Position);
  EXPECT_EQ(0, State.FState);
  // Once after the dialog, three times for the one part, once before the merge.
  EXPECT_EQ(5, View.Pumps);
  EXPECT_EQ((Strings{"open"}), View.Shown);
}

TEST_F(SendCommandTest, ArchivesAndTickedBoxSendTheFileAsItIs) {
  View.Ticked = false;
  Send(Dir.Write("DATA.ZIP", "PK\x03\x04 zipped"));
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart DATA._000", "UploadFilePart sendDetails.txt",
                     "MergeFile DATA.ZIP", "DelTempFiles"}),
            Service->Trace());
  EXPECT_EQ("PK\x03\x04 zipped", Service->Calls[1].Bytes);
  EXPECT_TRUE(View.Ticked);  // stays ticked after the send
  EXPECT_FALSE(std::filesystem::exists(Dir.PathWithSeparator() + "tmp/vorarch.rar"));

  // With the box ticked any file goes as it is, whatever its extension.
  Service->Calls.clear();
  Send(Dir.Write("notes.txt", "plain"));
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart notes._000", "UploadFilePart sendDetails.txt",
                     "MergeFile notes.txt", "DelTempFiles"}),
            Service->Trace());
  EXPECT_EQ("plain", Service->Calls[1].Bytes);
  EXPECT_EQ(TSendCommand::ocDone, Outcome);

  for (const char* name : {"a.rar", "b.Ace", "c.7Z"}) {
    View.Ticked = false;
    Service->Calls.clear();
    Send(Dir.Write(name, "x"));
    EXPECT_EQ(nullptr, Service->Find("UnZip", "")) << name;
    EXPECT_TRUE(View.Ticked) << name;
  }
}

// Files named before the send (the window's command line) skip the open dialog: one goes by the
// usual rules, several are packed into one archive even with the box ticked.
TEST_F(SendCommandTest, FilesGivenBeforeTheSendSkipTheDialogAndSeveralArePackedTogether) {
  View.Ticked = true;
  TSendCommand one = Command();
  one.Files = {Dir.Write("отчет.txt", "plain")};
  one.btSendClick();
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart отчет._000", "UploadFilePart sendDetails.txt",
                     "MergeFile отчет.txt", "DelTempFiles"}),
            Service->Trace());
  EXPECT_EQ(TSendCommand::ocDone, one.Outcome());

  Service->Calls.clear();
  TSendCommand several = Command();
  several.Files = {Dir.Write("a.txt", "first"), Dir.Write("sub/b.txt", "second")};
  several.btSendClick();
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart vorarch._000", "UploadFilePart sendDetails.txt",
                     "MergeFile vorarch.rar", "UnZip", "DelTempFiles"}),
            Service->Trace());
  // The one part is the whole archive; the temporary one is gone with the send.
  EXPECT_FALSE(std::filesystem::exists(Dir.PathWithSeparator() + "tmp/vorarch.rar"));
  TZLBArchive archive;
  archive.OpenArchive(Dir.Write("sent.rar", Service->Calls[1].Bytes));
  EXPECT_EQ(2, archive.EntryCount());
  EXPECT_GE(archive.IndexOfFile("a.txt"), 0);
  EXPECT_GE(archive.IndexOfFile("b.txt"), 0);
  EXPECT_TRUE(View.Ticked);
  for (const std::string& shown : View.Shown) EXPECT_NE(shown, "open");

  // A named file that is gone is reported by name and nothing reaches the service.
  Service->Calls.clear();
  TSendCommand missing = Command();
  missing.Files = {Dir.PathWithSeparator() + "gone.txt", Dir.PathWithSeparator() + "a.txt"};
  missing.btSendClick();
  EXPECT_TRUE(Service->Calls.empty());
  EXPECT_NE(View.Shown.back().find("gone.txt"), std::string::npos) << View.Shown.back();
}

TEST_F(SendCommandTest, TemporaryArchiveGoesWhereTmpSays) {
  std::filesystem::create_directory(Dir.PathWithSeparator() + "envtmp");
  View.Ticked = false;
  View.OpenFileAnswers.push_back(Dir.Write("t.doc", "doc"));
  std::string packed;  // what the temporary archive held while its part was on its way
  Service->OnCall = [&](const std::string& op) {
    if (op == "UploadFilePart" && packed.empty())
      packed = ReadFile(Dir.PathWithSeparator() + "envtmp/vorarch.rar");
  };
  TSendCommand command(State, View);  // default directory: from the environment
  command.DetailsDir = Dir.PathWithSeparator();
  {
    const test::TScopedEnv tmp("TMP",
                               Dir.PathWithSeparator() + "envtmp");  // no separator at the end
    command.btSendClick();
  }
  EXPECT_EQ(TSendCommand::ocDone, command.Outcome());
  EXPECT_EQ(packed, Service->Calls[1].Bytes);
  EXPECT_FALSE(std::filesystem::exists(Dir.PathWithSeparator() + "envtmp/vorarch.rar"));
}

TEST_F(SendCommandTest, NameWithoutExtensionIsPacked) {
  View.Ticked = false;
  Send(Dir.Write("README", "read me"));
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart vorarch._000", "UploadFilePart sendDetails.txt",
                     "MergeFile vorarch.rar", "UnZip", "DelTempFiles"}),
            Service->Trace());
  EXPECT_FALSE(View.Ticked);
}

TEST_F(SendCommandTest, CancelledDialogChangesNothing) {
  View.OpenFileAnswers.push_back(std::nullopt);
  TSendCommand command = Command();
  command.btSendClick();
  EXPECT_EQ(TSendCommand::ocCancelled, command.Outcome());
  EXPECT_TRUE(Service->Calls.empty());
  EXPECT_TRUE(View.Captions.empty());
  EXPECT_TRUE(View.Positions.empty());
  EXPECT_TRUE(View.Enabled.empty());
  EXPECT_EQ(0, View.Pumps);
  EXPECT_EQ(0, State.FState);
}

TEST_F(SendCommandTest, PartBoundaries) {
  // An empty file: one empty part with the hash of nothing.
  Send(Dir.Write("empty.bin", ""));
  ASSERT_EQ(1u, Parts().size());
  EXPECT_EQ("empty._000", Parts()[0]->Name);
  EXPECT_EQ("00000000", Parts()[0]->Hash);
  EXPECT_EQ("", Parts()[0]->Bytes);
  EXPECT_EQ(0, State.LastPartIndex);
  EXPECT_EQ((std::vector<int>{100, 100}), View.Positions);  // the part, then the end

  // Exactly one part's worth: the second part is empty.
  Service->Calls.clear();
  View.Positions.clear();
  const std::string full = Pattern(204800);
  Send(Dir.Write("full.bin", full));
  ASSERT_EQ(2u, Parts().size());
  EXPECT_EQ("full._000", Parts()[0]->Name);
  EXPECT_EQ(full, Parts()[0]->Bytes);
  EXPECT_EQ(ZlibHash(full), Parts()[0]->Hash);
  EXPECT_EQ("full._001", Parts()[1]->Name);
  EXPECT_EQ("", Parts()[1]->Bytes);
  EXPECT_EQ("00000000", Parts()[1]->Hash);
  EXPECT_EQ(1, Service->Find("MergeFile", "full.bin")->Parts);
  EXPECT_EQ((std::vector<int>{50, 100, 100}), View.Positions);

  // One byte more: that byte is the second part.
  Service->Calls.clear();
  View.Positions.clear();
  const std::string more = Pattern(204801);
  Send(Dir.Write("more.bin", more));
  ASSERT_EQ(2u, Parts().size());
  EXPECT_EQ(more.substr(0, 204800), Parts()[0]->Bytes);
  EXPECT_EQ(more.substr(204800), Parts()[1]->Bytes);
  EXPECT_EQ((std::vector<int>{50, 100, 100}), View.Positions);
}

TEST_F(SendCommandTest, EightPartsInOrderWithProgress) {
  const std::string content = Pattern(7 * 204800 + 1000);
  Send(Dir.Write("eight.dat", content));
  ASSERT_EQ(8u, Parts().size());
  std::string joined;
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ("eight._00" + std::to_string(i), Parts()[i]->Name);
    EXPECT_EQ(ZlibHash(Parts()[i]->Bytes), Parts()[i]->Hash);
    joined += Parts()[i]->Bytes;
  }
  EXPECT_EQ(content, joined);
  EXPECT_EQ(7, State.LastPartIndex);
  EXPECT_EQ(7, Service->Find("MergeFile", "eight.dat")->Parts);
  EXPECT_EQ((std::vector<int>{12, 25, 38, 50, 62, 75, 88, 100, 100}), View.Positions);
  EXPECT_EQ(1 + 8 * 3 + 1, View.Pumps);
}

TEST_F(SendCommandTest, RetriesAndTheRetryQuestion) {
  const std::string content = Pattern(3 * 204800);  // parts 000..003, the last empty
  const std::string path = Dir.Write("r.bin", content);

  // Three failures (raised or answered false) and then success: nobody is asked.
  Service->FailPart = [](const std::string& name, int attempt) -> std::optional<bool> {
    if (name == "r._001" && attempt <= 3) return attempt != 2;
    return std::nullopt;
  };
  Send(path);
  EXPECT_EQ(TSendCommand::ocDone, Outcome);
  EXPECT_EQ((Strings{"open"}), View.Shown);
  EXPECT_EQ(4u + 3u, Parts().size());  // four parts, three of them repeated for r._001

  // Four failures: Yes resends only that part, with the same bytes.
  Service = std::make_shared<TFakeService>();
  State.ServiceIntf = Service;
  View.Shown.clear();
  Service->FailPart = [](const std::string& name, int attempt) -> std::optional<bool> {
    if (name == "r._002" && attempt <= 4) return true;
    return std::nullopt;
  };
  View.ConfirmAnswers = {true};
  Send(path);
  EXPECT_EQ((Strings{"open", kRetryQuestion}), View.Shown);
  EXPECT_EQ(std::vector<int32_t>{2}, Failed);
  Strings names;
  for (const test::TCall* c : Parts()) names.push_back(c->Name);
  EXPECT_EQ(
      (Strings{"r._000", "r._001", "r._002", "r._002", "r._002", "r._002", "r._002", "r._003"}),
      names);
  for (size_t i = 2; i <= 6; ++i) EXPECT_EQ(content.substr(2 * 204800, 204800), Parts()[i]->Bytes);
  EXPECT_EQ(TSendCommand::ocDone, Outcome);

  // Four failures and No: progress 0, no details file, no merge, the temporary files dropped.
  Service = std::make_shared<TFakeService>();
  State.ServiceIntf = Service;
  View.Shown.clear();
  View.Positions.clear();
  Service->FailPart = [](const std::string& name, int) -> std::optional<bool> {
    if (name == "r._001") return false;
    return std::nullopt;
  };
  View.ConfirmAnswers = {false};
  std::filesystem::remove(Dir.PathWithSeparator() + "sendDetails.txt");
  Send(path);
  EXPECT_EQ(TSendCommand::ocFailed, Outcome);
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart r._000", "UploadFilePart r._001",
                     "UploadFilePart r._001", "UploadFilePart r._001", "UploadFilePart r._001",
                     "DelTempFiles"}),
            Service->Trace());
  EXPECT_FALSE(std::filesystem::exists(Dir.PathWithSeparator() + "sendDetails.txt"));
  EXPECT_EQ((std::vector<int>{25, 0, 0}), View.Positions);
  EXPECT_EQ("Сесия S42 - Неуспешно", View.CaptionText);
  EXPECT_EQ(0, State.FState);
}

// What the window does on a close request while parts are uploading.
void CloseQuery(TSenderState& state, TScriptedView& view, bool closeWindow) {
  if (state.FState != 1) return;
  if (!view.Confirm("Наистина ли желаете да прекратите изпращането на файла?")) return;
  state.FClosing = true;
  state.ServiceIntf->DelTempFiles(state.Session);
  if (closeWindow) state.ServiceIntf.reset();
}

TEST_F(SendCommandTest, CloseRequestDuringTheUpload) {
  const std::string path = Dir.Write("c.bin", Pattern(3 * 204800 + 5));
  // Answered No: the upload goes on to the end.
  int pumps = 0;
  View.OnProcessMessages = [&] {
    if (++pumps == 2) CloseQuery(State, View, true);
  };
  View.ConfirmAnswers = {false};
  Send(path);
  EXPECT_EQ(TSendCommand::ocDone, Outcome);
  EXPECT_EQ(4u, Parts().size());
  EXPECT_EQ("Сесия S42 - Готово", View.CaptionText);

  // Answered Yes: no further part, the details attempt fails quietly with the reference gone, no
  // merge, and the state is left to the closing window.
  Service = std::make_shared<TFakeService>();
  State.ServiceIntf = Service;
  pumps = 0;
  View.ConfirmAnswers = {true};
  View.Positions.clear();
  Send(path);
  EXPECT_EQ(TSendCommand::ocClosing, Outcome);
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart c._000", "DelTempFiles"}), Service->Trace());
  EXPECT_EQ(1, State.FState);
  EXPECT_EQ((std::vector<int>{25}), View.Positions);
  EXPECT_EQ("Изпращане на файлове - Сесия S42", View.CaptionText);
  EXPECT_EQ(kDetails, ReadFile(Dir.PathWithSeparator() + "sendDetails.txt"));

  // Yes while the window has not yet emptied the reference: the details file still goes out.
  Service = std::make_shared<TFakeService>();
  State.ServiceIntf = Service;
  State.FClosing = false;
  State.FState = spIdle;
  pumps = 0;
  View.OnProcessMessages = [&] {
    if (++pumps == 2) CloseQuery(State, View, false);
  };
  View.ConfirmAnswers = {true};
  Send(path);
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart c._000", "DelTempFiles",
                     "UploadFilePart sendDetails.txt"}),
            Service->Trace());
}

TEST_F(SendCommandTest, CloseRequestAtTheOtherPumpingPoints) {
  const std::string path = Dir.Write("one.bin", "one part");
  // Right after the dialog the window is idle and closes at once: nothing is sent.
  View.OnProcessMessages = [&] {
    State.FClosing = true;
    State.ServiceIntf.reset();
  };
  Send(path);
  EXPECT_EQ(TSendCommand::ocClosing, Outcome);
  EXPECT_TRUE(Service->Calls.empty());
  EXPECT_TRUE(View.Captions.empty());
  EXPECT_EQ(0, State.FState);

  // Before the merge, still uploading: a confirmed close leaves the merge out.
  State.FClosing = false;
  State.ServiceIntf = Service;
  int pumps = 0;
  View.OnProcessMessages = [&] {
    if (++pumps == 5) CloseQuery(State, View, true);
  };
  View.ConfirmAnswers = {true};
  Send(path);
  EXPECT_EQ(TSendCommand::ocClosing, Outcome);
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart one._000", "UploadFilePart sendDetails.txt",
                     "DelTempFiles"}),
            Service->Trace());
  EXPECT_EQ("Разпакетиране. Моля, изчакайте......", View.CaptionText);
}

TEST_F(SendCommandTest, DetailsFileBytes) {
  Send(Dir.Write("d.txt", "d"));
  EXPECT_EQ(kDetails, ReadFile(Dir.PathWithSeparator() + "sendDetails.txt"));
  const test::TCall* details = Service->Find("UploadFilePart", "sendDetails.txt");
  ASSERT_NE(nullptr, details);
  EXPECT_EQ(kDetails, details->Bytes);
  EXPECT_EQ("", details->Hash);

  // Sent once even when the service refuses it, and its failure is silent.
  Service->Calls.clear();
  Service->FailPart = [](const std::string& name, int) -> std::optional<bool> {
    if (name == "sendDetails.txt") return true;
    return std::nullopt;
  };
  Send(Dir.Write("d.txt", "d"));
  int detailsCalls = 0;
  for (const test::TCall& c : Service->Calls) detailsCalls += c.Name == "sendDetails.txt";
  EXPECT_EQ(1, detailsCalls);
  EXPECT_EQ(TSendCommand::ocDone, Outcome);
  EXPECT_EQ((Strings{"open", "open"}), View.Shown);
}

TEST_F(SendCommandTest, UnwritableDetailsFileIsReportedAndTheSendGoesOn) {
  View.OpenFileAnswers.push_back(Dir.Write("u.bin", "u"));
  TSendCommand command = Command();
  command.DetailsDir = Dir.PathWithSeparator() + "missing/dir/";
  command.btSendClick();
  EXPECT_EQ((Strings{"open", "inform:Грешка при изпращане на информация за подателя."}),
            View.Shown);
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart u._000", "MergeFile u.bin", "DelTempFiles"}),
            Service->Trace());
  EXPECT_EQ(TSendCommand::ocDone, command.Outcome());
}

TEST_F(SendCommandTest, SendButtonIsDisabledForTheWorkAndAlwaysComesBack) {
  View.Ticked = false;
  bool enabledWhilePacking = true;
  View.OnProcessMessages = [&] {
    if (!View.Enabled.empty()) enabledWhilePacking = View.Enabled.back();
  };
  Send(Dir.Write("p.pdf", "pdf"));
  EXPECT_EQ((std::vector<bool>{false, true}), View.Enabled);
  EXPECT_FALSE(enabledWhilePacking);

  // A failing session request propagates, leaves FState at 1, and the button enabled.
  View.Enabled.clear();
  Service->FailGetSession = true;
  View.OpenFileAnswers.push_back(Dir.Write("q.txt", "q"));
  View.Ticked = true;
  TSendCommand command = Command();
  EXPECT_THROW(command.btSendClick(), Exception);
  EXPECT_EQ((std::vector<bool>{false, true}), View.Enabled);
  EXPECT_EQ(1, State.FState);

  // A file that cannot be opened: the platform's error after the session caption.
  Service->FailGetSession = false;
  View.Enabled.clear();
  View.OpenFileAnswers.push_back(Dir.PathWithSeparator() + "gone.txt");
  TSendCommand again = Command();
  EXPECT_THROW(again.btSendClick(), EFOpenError);
  EXPECT_EQ("Изпращане на файлове - Сесия S42", View.CaptionText);
  EXPECT_EQ((std::vector<bool>{false, true}), View.Enabled);
}

TEST_F(SendCommandTest, PackingThatLosesTheFileStopsBeforeTheService) {
  View.Ticked = false;
  const std::string missing = Dir.PathWithSeparator() + "nowhere/report.pdf";
  Send(missing);
  EXPECT_EQ(TSendCommand::ocFailed, Outcome);
  EXPECT_TRUE(Service->Calls.empty());
  EXPECT_EQ((Strings{"open", "error:Грешка при архивиране на файл: " + missing}), View.Shown);
  EXPECT_EQ("Изпращане на файлове до Ворлен", View.CaptionText);
  EXPECT_EQ(0, State.FState);
  EXPECT_EQ((std::vector<bool>{false, true}), View.Enabled);
}

TEST_F(SendCommandTest, RefusedMergeIsAFailure) {
  View.Ticked = false;
  Service->MergeResult = false;
  Send(Dir.Write("m.pdf", "merge me"));
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart vorarch._000", "UploadFilePart sendDetails.txt",
                     "MergeFile vorarch.rar", "DelTempFiles"}),
            Service->Trace());
  EXPECT_EQ((Strings{"open", "error:Сървърът не успя да обедини частите на файла."}), View.Shown);
  EXPECT_EQ(0, View.Position);
  EXPECT_EQ("Сесия S42 - Неуспешно", View.CaptionText);
  EXPECT_EQ(TSendCommand::ocFailed, Outcome);
  EXPECT_EQ(0, State.FState);

  // A refused unpack stays ignored.
  Service->Calls.clear();
  Service->MergeResult = true;
  Service->UnZipResult = false;
  Send(Dir.Write("m.pdf", "merge me"));
  EXPECT_EQ("Сесия S42 - Готово", View.CaptionText);
  EXPECT_EQ(TSendCommand::ocDone, Outcome);
}

TEST_F(SendCommandTest, NoServiceReferenceIsReportedAndNothingElseHappens) {
  State.ServiceIntf.reset();
  TSendCommand command = Command();
  command.btSendClick();
  EXPECT_EQ((Strings{"error:Няма връзка с уеб сървиса. Проверете адреса в sendcfg.ini."}),
            View.Shown);
  EXPECT_TRUE(View.Captions.empty());
  EXPECT_TRUE(View.Enabled.empty());
  EXPECT_EQ(0, State.FState);
}

TEST_F(SendCommandTest, FileThatShrinksEndsWithAReadError) {
  const std::string content = Pattern(3 * 204800 + 10);
  const std::string path = Dir.Write("s.bin", content);
  Service->AfterPart = [&](const std::string& name) {
    if (name == "s._000") std::filesystem::resize_file(path, 204800 + 100);
  };
  View.OpenFileAnswers.push_back(path);
  TSendCommand command = Command();
  try {
    command.btSendClick();
    FAIL() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("Stream read error")) << e.what();
    EXPECT_NE(std::string::npos, std::string(e.what()).find(path)) << e.what();
  }
  EXPECT_EQ((Strings{"GetSession", "UploadFilePart s._000"}), Service->Trace());

  // Growth is allowed: the part count stays, the last part takes what is there when read.
  Service = std::make_shared<TFakeService>();
  State.ServiceIntf = Service;
  const std::string grown = Pattern(204800 + 10);
  std::filesystem::resize_file(path, 0);
  const std::string path2 = Dir.Write("g.bin", grown.substr(0, 204800 + 5));
  Service->AfterPart = [&](const std::string& name) {
    if (name == "g._000") Dir.Write("g.bin", grown);
  };
  Send(path2);
  ASSERT_EQ(2u, Parts().size());
  EXPECT_EQ(grown.substr(204800), Parts()[1]->Bytes);
}

// Zeros with "TAIL" as the last four bytes, of any size, made up as they are read; it records
// the offset of every read.
class TLargeStream : public test::TGeneratedStream {
 public:
  TLargeStream(int64_t size, std::vector<int64_t>& readOffsets)
      : TGeneratedStream(size), FReadOffsets(readOffsets) {}

 protected:
  // Zeros that end in "TAIL", and a record of where each read started.
  void Fill(char* bytes, int64_t position, int64_t n) override {
    std::memset(bytes, 0, static_cast<size_t>(n));
    for (int64_t k = std::max(position, FSize - 4); k < position + n; ++k)
      bytes[k - position] = "TAIL"[k - (FSize - 4)];
    FReadOffsets.push_back(position);
  }

 private:
  std::vector<int64_t>& FReadOffsets;
};

class TLargeFileCommand : public TSendCommand {
 public:
  using TSendCommand::TSendCommand;
  int64_t FileSize = 0;
  std::vector<int64_t> ReadOffsets;

 protected:
  std::unique_ptr<TStream> OpenSourceFile(const std::string&) override {
    return std::make_unique<TLargeStream>(FileSize, ReadOffsets);
  }
};

TEST_F(SendCommandTest, FilesOfFourGibibytesAndMoreAreSentWhole) {
  // Past 2^32 bytes, where 32-bit offsets would wrap back to the start of the file.
  const int64_t size = int64_t{20974} * 204800 + 1000;
  ASSERT_GT(size - 1000, int64_t{1} << 32);
  Service->KeepBytes = false;
  View.OpenFileAnswers.push_back(Dir.PathWithSeparator() + "big.img");
  TLargeFileCommand command(State, View);
  command.DetailsDir = Dir.PathWithSeparator();
  command.Today = [] { return std::string("07.12.2026"); };
  command.FileSize = size;
  command.btSendClick();

  EXPECT_EQ(TSendCommand::ocDone, command.Outcome());
  EXPECT_EQ(20974, State.LastPartIndex);
  const std::vector<const test::TCall*> parts = Parts();
  ASSERT_EQ(20975u, parts.size());
  EXPECT_EQ("big._20974", parts.back()->Name);
  EXPECT_EQ(1000, parts.back()->Size);
  std::string last(1000, '\0');
  last.replace(996, 4, "TAIL");
  EXPECT_EQ(ZlibHash(last), parts.back()->Hash);
  EXPECT_EQ(204800, parts[20973]->Size);
  EXPECT_EQ("D5374F3F", parts[20973]->Hash);  // 204,800 zero bytes
  EXPECT_EQ(20974, Service->Find("MergeFile", "big.img")->Parts);
  ASSERT_EQ(20975u, command.ReadOffsets.size());
  for (size_t i = 0; i < command.ReadOffsets.size(); ++i) {
    ASSERT_EQ(static_cast<int64_t>(i) * 204800, command.ReadOffsets[i]) << i;
  }
}

// --- Parts in flight ---

// The part names of the calls so far (the details file left out), in call order.
Strings PartNames(const TFakeService& service) {
  Strings names;
  for (const test::TCall& c : service.Calls)
    if (c.Op == "UploadFilePart" && c.Name != "sendDetails.txt") names.push_back(c.Name);
  return names;
}

// Counts the part calls under way and the parts accepted, from the service's side, and notes
// both when the other calls come.
struct TPartCounter {
  std::atomic<int> Running{0};
  std::atomic<int> MostRunning{0};
  std::atomic<int> Accepted{0};
  std::map<std::string, std::pair<int, int>> AtCall;  // op: accepted, running

  void Attach(TFakeService& service) {
    service.OnCall = [this](const std::string& op) {
      if (op != "UploadFilePart") {
        AtCall[op] = {Accepted, Running};
        return;
      }
      const int now = ++Running;
      for (int most = MostRunning; now > most && !MostRunning.compare_exchange_weak(most, now);) {}
    };
    service.AfterPart = [this](const std::string& name) {
      --Running;
      if (name != "sendDetails.txt") ++Accepted;
    };
  }
};

TEST_F(SendCommandTest, PartsInFlightCallsKeepTheirOrderAndNothingIsMergedBeforeEveryPart) {
  TPartCounter counter;
  counter.Attach(*Service);
  // The first part waits for a second one, so that they overlap.
  std::mutex lock;
  std::condition_variable arrived;
  Service->FailPart = [&](const std::string&, int) -> std::optional<bool> {
    std::unique_lock<std::mutex> guard(lock);
    arrived.notify_all();
    arrived.wait_for(guard, 10s, [&] { return counter.MostRunning > 1; });
    return std::nullopt;
  };
  View.Ticked = false;  // packed, so that UnZip follows
  const std::string content = Pattern(3000000, 5);
  Parallel = 4;
  // The temporary archive as it was while its parts were on their way; it goes after the send.
  std::string archive;
  Service->OnCall = [&, counted = Service->OnCall](const std::string& op) {
    if (archive.empty()) archive = ReadFile(Dir.PathWithSeparator() + "tmp/vorarch.rar");
    counted(op);
  };
  Send(Dir.Write("report.pdf", content));

  ASSERT_EQ(TSendCommand::ocDone, Outcome);
  EXPECT_FALSE(std::filesystem::exists(Dir.PathWithSeparator() + "tmp/vorarch.rar"));
  const int parts = static_cast<int>(archive.size() / 204800) + 1;
  ASSERT_GT(parts, 8);
  EXPECT_EQ(4, Connections);
  // GetSession, every part once in any order, then the details, merge, unpack and clean-up.
  const Strings trace = Service->Trace();
  ASSERT_EQ(static_cast<size_t>(parts) + 5, trace.size());
  EXPECT_EQ("GetSession", trace.front());
  std::set<std::string> names;
  std::string joined(archive.size(), '\0');
  for (int i = 0; i < parts; ++i) {
    const test::TCall& call = Service->Calls[static_cast<size_t>(i) + 1];
    ASSERT_EQ("UploadFilePart", call.Op);
    names.insert(call.Name);
    const size_t index = std::stoul(call.Name.substr(call.Name.size() - 3));
    joined.replace(index * 204800, call.Bytes.size(), call.Bytes);
  }
  EXPECT_EQ(static_cast<size_t>(parts), names.size());
  EXPECT_EQ("vorarch._000", *names.begin());
  EXPECT_EQ(archive, joined);
  EXPECT_EQ(
      (Strings{"UploadFilePart sendDetails.txt", "MergeFile vorarch.rar", "UnZip", "DelTempFiles"}),
      Strings(trace.end() - 4, trace.end()));
  EXPECT_EQ(parts - 1, Service->Find("MergeFile", "vorarch.rar")->Parts);
  EXPECT_EQ(std::make_pair(parts, 0), counter.AtCall["MergeFile"]);  // accepted, running
  EXPECT_GT(counter.MostRunning, 1);
  EXPECT_LE(counter.MostRunning, 4);
  // The packing's progress first, ending at 100; then the progress counts the accepted parts.
  ASSERT_GT(View.Positions.size(), static_cast<size_t>(parts) + 1);
  const size_t packing = View.Positions.size() - static_cast<size_t>(parts) - 1;
  EXPECT_EQ(100, View.Positions[packing - 1]);
  for (int i = 1; i <= parts; ++i)
    EXPECT_EQ(PartProgress(parts - 1, i), View.Positions[packing + static_cast<size_t>(i) - 1]);
}

TEST_F(SendCommandTest, PartsInFlightAPartThatFailsLetsTheOthersFinishThenAsksOnce) {
  // Part 1 fails its four attempts while parts 0, 2 and 3 are on their way; they are held
  // until the sender has learnt of the failure, or it would rightly start new parts in their
  // place.
  std::mutex lock;
  std::condition_variable changed;
  bool failureKnown = false;
  TPartCounter counter;
  counter.Attach(*Service);
  Service->FailPart = [&](const std::string& name, int attempt) -> std::optional<bool> {
    std::unique_lock<std::mutex> guard(lock);
    if (name == "f._001" && attempt <= 4) {
      --counter.Running;
      return true;
    }
    if (attempt == 1 && (name == "f._000" || name == "f._002" || name == "f._003"))
      changed.wait_for(guard, 10s, [&] { return failureKnown; });
    return std::nullopt;
  };
  OnPartFailed = [&](int32_t) {
    const std::lock_guard<std::mutex> guard(lock);
    failureKnown = true;
    changed.notify_all();
  };
  Strings partsAtQuestion;
  int acceptedAtQuestion = -1;
  View.OnConfirm = [&] {
    partsAtQuestion = PartNames(*Service);
    acceptedAtQuestion = counter.Accepted;
  };
  View.ConfirmAnswers = {true};
  Parallel = 4;
  Send(Dir.Write("f.bin", Pattern(8 * 204800 - 1, 6)));

  ASSERT_EQ(TSendCommand::ocDone, Outcome);
  EXPECT_EQ(std::vector<int32_t>{1}, Failed);
  EXPECT_EQ((Strings{"open", "confirm:Грешка при изпращане на файл. Желаете ли да пробвате пак?"}),
            View.Shown);
  // When the question came the parts in flight had finished, and no new one had started.
  EXPECT_EQ(3, acceptedAtQuestion);
  const std::multiset<std::string> before(partsAtQuestion.begin(), partsAtQuestion.end());
  EXPECT_EQ((std::multiset<std::string>{"f._000", "f._001", "f._001", "f._001", "f._001", "f._002",
                                        "f._003"}),
            before);
  // Yes: the failed part and the untried ones go, each once.
  const Strings after = PartNames(*Service);
  const std::multiset<std::string> rest(after.begin() + static_cast<long>(before.size()),
                                        after.end());
  EXPECT_EQ((std::multiset<std::string>{"f._001", "f._004", "f._005", "f._006", "f._007"}), rest);
  EXPECT_EQ(7, Service->Find("MergeFile", "f.bin")->Parts);
  EXPECT_EQ(100, View.Positions.back());
}

TEST_F(SendCommandTest, PartsInFlightACloseWithPartsInFlightCleansUpOnceTheyHaveFinished) {
  TPartCounter counter;
  counter.Attach(*Service);
  // The other three parts stay on their way until the close has come.
  std::mutex lock;
  std::condition_variable changed;
  bool closed = false;
  Service->FailPart = [&](const std::string& name, int) -> std::optional<bool> {
    std::unique_lock<std::mutex> guard(lock);
    if (name != "f._000") changed.wait_for(guard, 10s, [&] { return closed; });
    return std::nullopt;
  };
  // The close handlers after the first accepted part: a confirmed close drops the parts.
  View.OnProcessMessages = [&] {
    if (State.FClosing || counter.Accepted == 0) return;
    State.FClosing = true;
    {
      std::lock_guard<std::mutex> guard(lock);
      closed = true;
    }
    changed.notify_all();
    State.ServiceIntf->DelTempFiles(State.Session);
    State.ServiceIntf.reset();
  };
  Parallel = 4;
  Send(Dir.Write("f.bin", Pattern(8 * 204800, 7)));

  EXPECT_EQ(TSendCommand::ocClosing, Outcome);
  // The four parts in flight finished first; no other part started, nothing was merged.
  EXPECT_EQ(std::make_pair(4, 0), counter.AtCall["DelTempFiles"]);  // accepted, running
  const Strings parts = PartNames(*Service);
  EXPECT_EQ((std::set<std::string>{"f._000", "f._001", "f._002", "f._003"}),
            std::set<std::string>(parts.begin(), parts.end()));
  EXPECT_EQ(4u, parts.size());
  EXPECT_EQ("DelTempFiles", Service->Trace().back());
  EXPECT_EQ(nullptr, Service->Find("MergeFile", "f.bin"));
}

}  // namespace
}  // namespace vorlen
