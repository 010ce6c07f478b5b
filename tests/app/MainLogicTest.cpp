#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Fakes.h"
#include "app/CompatibilityLayer.h"
#include "app/MainLogic.h"
#include "proxy/HTTPRIO.h"
#include "runtime/Exception.h"
#include "soap/SOAPExceptions.h"
#include "support/Pattern.h"
#include "support/PostQueue.h"
#include "support/RawHttpServer.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedView.h"
#include "transport/HTTPReqResp.h"
#include "transport/SOAPHTTPException.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

const char* const ExePath = "/opt/vorlen/vorlen-sender";
const char* const LayersKey =
    "\\software\\microsoft\\windows nt\\currentversion\\appcompatflags\\layers";

struct TLogicFixture {
  TScratchDir Dir;
  TScriptedView View;
  TMemoryRegistry Registry;
  std::shared_ptr<TFakeService> Service = std::make_shared<TFakeService>();
  std::vector<std::string> BoundUrls;
  TMainLogic Logic{View, Registry, ExePath, Dir.PathWithSeparator()};

  TLogicFixture() {
    Logic.Binder = [this](const std::string& url) -> ISenderServicePtr {
      BoundUrls.push_back(url);
      return Service;
    };
  }
};

std::string Input(const std::string& caption, const std::string& prompt, const std::string& value) {
  return "input:" + caption + "|" + prompt + "|" + value;
}
const std::string UrlBox = "Въведете URL на уеб сървиса";
const std::string OrgBox = "Въведете име на организация";

}  // namespace

TEST(MainLogicSettings, CompleteFileIsReadAndNeverRewritten) {
  TLogicFixture f;
  const std::string bytes =
      "; written by hand\r\n"
      "URL=http://127.0.0.1:1/FileUploader/Sender_Server.dll/soap/ISenderService\r\n"
      "extra=kept\r\n"
      "Org=\xD4\xE8\xF0\xEC\xE0\r\n";
  f.Dir.Write("sendcfg.ini", bytes);
  f.Logic.FormCreate();
  EXPECT_EQ(f.Logic.State().FUrl,
            "http://127.0.0.1:1/FileUploader/Sender_Server.dll/soap/ISenderService");
  EXPECT_EQ(f.Logic.State().FOrg, "Фирма");
  EXPECT_FALSE(f.Logic.State().FSettingsChanged);
  EXPECT_TRUE(f.View.Shown.empty());
  EXPECT_EQ(f.Dir.Read("sendcfg.ini"), bytes);  // untouched, extra lines and all
  EXPECT_EQ(f.BoundUrls,
            std::vector<std::string>{
                "http://127.0.0.1:1/FileUploader/Sender_Server.dll/soap/ISenderService"});
  EXPECT_EQ(f.Logic.State().ServiceIntf, f.Service);
}

TEST(MainLogicSettings, BlankUrlPromptsWithItsSpacesUntilFilledThenRewritesWholeFile) {
  TLogicFixture f;
  f.Dir.Write("sendcfg.ini", "# note\nurl=   \norg=\xD4\xE8\xF0\xEC\xE0\nmore=1\n");
  // Cancel, then OK on a blank text, then a real one.
  f.View.InputAnswers = {std::nullopt, std::string("  "), std::string(" http://h/s ")};
  f.Logic.FormCreate();
  EXPECT_EQ(f.View.Shown,
            (std::vector<std::string>{Input(UrlBox, "url", "   "), Input(UrlBox, "url", "   "),
                                      Input(UrlBox, "url", "  ")}));
  EXPECT_EQ(f.Logic.State().FUrl, " http://h/s ");  // stored exactly as typed
  EXPECT_EQ(f.Logic.State().FOrg, "Фирма");
  EXPECT_TRUE(f.Logic.State().FSettingsChanged);
  // The forced write replaces the file with just the two lines.
  EXPECT_EQ(f.Dir.Read("sendcfg.ini"), "url= http://h/s \r\norg=\xD4\xE8\xF0\xEC\xE0\r\n");
}

TEST(MainLogicSettings, MissingFilePromptsForBothAndWritesAnsiBytes) {
  TLogicFixture f;
  f.View.InputAnswers = {std::string("http://127.0.0.1:8080/s"), std::nullopt,
                         std::string("Фирма ООД")};
  f.Logic.FormCreate();
  EXPECT_EQ(f.View.Shown,
            (std::vector<std::string>{Input(UrlBox, "url", ""), Input(OrgBox, "Организация", ""),
                                      Input(OrgBox, "Организация", "")}));
  EXPECT_EQ(f.Dir.Read("sendcfg.ini"),
            "url=http://127.0.0.1:8080/s\r\norg=\xD4\xE8\xF0\xEC\xE0 \xCE\xCE\xC4\r\n");
  EXPECT_EQ(f.BoundUrls, std::vector<std::string>{"http://127.0.0.1:8080/s"});
}

TEST(MainLogicSettings, ReadsUtf8AndUtf16FilesWithMarks) {
  {
    TLogicFixture f;
    f.Dir.Write("sendcfg.ini",
                "\xEF\xBB\xBFurl=http://h/\r\norg=\xD0\xA4\xD0\xB8\xD1\x80\xD0\xBC\xD0\xB0\r\n");
    f.Logic.LoadSettings();
    EXPECT_EQ(f.Logic.State().FUrl, "http://h/");
    EXPECT_EQ(f.Logic.State().FOrg, "Фирма");
    EXPECT_TRUE(f.View.Shown.empty());
  }
  {
    TLogicFixture f;
    // "url=h\r\norg=Ф\r\n" in UTF-16 LE.
    f.Dir.Write("sendcfg.ini",
                std::string("\xFF\xFEu\0r\0l\0=\0h\0\r\0\n\0o\0r\0g\0=\0\x24\x04\r\0\n\0", 30));
    f.Logic.LoadSettings();
    EXPECT_EQ(f.Logic.State().FUrl, "h");
    EXPECT_EQ(f.Logic.State().FOrg, "Ф");
    EXPECT_TRUE(f.View.Shown.empty());
  }
}

// A program installed per machine: its folder's file first, then the user's, then the machine's
// registry; prompts fill the rest and go to the user's file, which keeps only its own values.
TEST(MainLogicSettings, PerMachinePlacesMergeInOrderAndTheUsersFileGetsOnlyItsOwn) {
  TLogicFixture f;
  const std::string program = f.Dir.PathWithSeparator() + "program/";
  const std::string user = f.Dir.PathWithSeparator() + "user/";
  f.Logic.SetSettingsPlaces({{program, user}, user, true});
  auto& machine = f.Registry.Keys["software\\vorlen sender"];

  // Machine values alone: no prompt, nothing written, the details file goes to the user's folder.
  machine = {{"url", "http://machine/s"}, {"org", "\xD0\x9E\xD0\xB1\xD1\x89\xD0\xB8\xD0\xBD\xD0\xB0"}};
  f.Logic.FormCreate();
  EXPECT_EQ(f.Logic.State().FUrl, "http://machine/s");
  EXPECT_EQ(f.Logic.State().FOrg, "Община");
  EXPECT_TRUE(f.View.Shown.empty());
  EXPECT_FALSE(f.Dir.Exists("user/sendcfg.ini"));
  EXPECT_EQ(f.Logic.SettingsPath(), user + "sendcfg.ini");

  // The program's file wins over the user's, which wins over the machine's; kept settings too.
  f.Dir.Write("program/sendcfg.ini", "url=http://program/s\r\nparallel=4\r\n");
  f.Dir.Write("user/sendcfg.ini", "url=http://user/s\r\norg=User\r\nparallel=8\r\n");
  f.Logic.LoadSettings();
  EXPECT_EQ(f.Logic.State().FUrl, "http://program/s");
  EXPECT_EQ(f.Logic.State().FOrg, "User");
  EXPECT_EQ(EntryValue(f.Logic.State().FMoreSettings, "parallel"), "4");

  // Only the URL anywhere: the organisation is asked and written to the user's file, without the
  // values that came from elsewhere, with the user's own kept setting.
  f.Dir.Write("user/sendcfg.ini", "org=  \r\nparallel=8\r\n");
  machine = {{"url", "http://machine/s"}};
  f.View.InputAnswers = {std::string("\xD0\xA4\xD0\xB8\xD1\x80\xD0\xBC\xD0\xB0")};
  f.Logic.FormCreate();
  EXPECT_EQ(f.View.Shown, std::vector<std::string>{Input(OrgBox, "Организация", "  ")});
  EXPECT_EQ(f.Logic.State().FUrl, "http://program/s");
  EXPECT_EQ(f.Dir.Read("user/sendcfg.ini"), "url=\r\norg=\xD4\xE8\xF0\xEC\xE0\r\nparallel=8\r\n");
  EXPECT_EQ(f.Dir.Read("program/sendcfg.ini"), "url=http://program/s\r\nparallel=4\r\n");

  // An unreadable machine key counts as empty: the prompts ask.
  f.Dir.Write("program/sendcfg.ini", "");
  f.Dir.Write("user/sendcfg.ini", "");
  f.Registry.FailOpen = true;
  f.View.Shown.clear();
  f.View.InputAnswers = {std::string("http://typed/s"), std::string("Org")};
  f.Logic.LoadSettings();
  EXPECT_EQ(f.View.Shown.size(), 2u);
  EXPECT_EQ(f.Logic.State().FUrl, "http://typed/s");
}

TEST(MainLogicSettings, FailedSaveIsReportedAndValuesStay) {
  TScriptedView view;
  TMemoryRegistry registry;
  TScratchDir dir;
  // The executable's directory is gone: nothing there to read, and nowhere to write.
  TMainLogic logic(view, registry, ExePath, dir.PathWithSeparator() + "missing/");
  view.InputAnswers = {std::string("http://h/"), std::string("Org")};
  logic.Binder = [](const std::string&) { return std::make_shared<TFakeService>(); };
  logic.FormCreate();
  EXPECT_EQ(view.Shown.back(), "inform:Грешка при запис на настройки");
  EXPECT_EQ(view.Shown.size(), 3u);
  EXPECT_EQ(logic.State().FUrl, "http://h/");
  EXPECT_EQ(logic.State().FOrg, "Org");
  EXPECT_NE(logic.State().ServiceIntf, nullptr);  // start-up went on
}

TEST(MainLogicSettings, UnreadableFileEndsCreationBeforeSaveAndBind) {
  TLogicFixture f;
  std::filesystem::create_directory(f.Dir.File("sendcfg.ini"));  // exists, cannot be read
  try {
    f.Logic.FormCreate();
    FAIL() << "an unreadable settings file must raise";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("sendcfg.ini"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(f.View.Shown.empty());
  EXPECT_TRUE(f.BoundUrls.empty());
  EXPECT_EQ(f.Logic.State().ServiceIntf, nullptr);
  EXPECT_EQ(f.Registry.Writes, 1);  // the registry step before it did run
}

TEST(MainLogicRegistry, WritesMissingKeepsOtherCaseReplacesCombined) {
  TMemoryRegistry registry;
  ApplyCompatibilityLayer(registry, ExePath);
  EXPECT_EQ(registry.Keys[LayersKey]["/opt/vorlen/vorlen-sender"], "DisableNXShowUI");
  EXPECT_EQ(registry.Writes, 1);

  registry.Keys[LayersKey]["/opt/vorlen/vorlen-sender"] = "disablenxSHOWui";
  ApplyCompatibilityLayer(registry, ExePath);
  EXPECT_EQ(registry.Keys[LayersKey]["/opt/vorlen/vorlen-sender"], "disablenxSHOWui");
  EXPECT_EQ(registry.Writes, 1);

  registry.Keys[LayersKey]["/opt/vorlen/vorlen-sender"] = "DisableNXShowUI HIGHDPIAWARE";
  ApplyCompatibilityLayer(registry, ExePath);
  EXPECT_EQ(registry.Keys[LayersKey]["/opt/vorlen/vorlen-sender"], "DisableNXShowUI");
  EXPECT_EQ(registry.Writes, 2);
  EXPECT_EQ(registry.Keys.size(), 1u);
}

TEST(MainLogicRegistry, FailuresAreSilentAndStartUpGoesOn) {
  for (int failing = 0; failing < 3; ++failing) {
    TLogicFixture f;
    f.Registry.FailOpen = failing == 0;
    f.Registry.FailRead = failing == 1;
    f.Registry.FailWrite = failing == 2;
    f.Dir.Write("sendcfg.ini", "url=http://h/\r\norg=o\r\n");
    EXPECT_NO_THROW(f.Logic.FormCreate()) << failing;
    EXPECT_TRUE(f.View.Shown.empty());
    EXPECT_EQ(f.BoundUrls.size(), 1u);
    EXPECT_EQ(f.Registry.Writes, 0);
  }
#ifndef _WIN32
  // Without a machine registry the key cannot be opened, and the step stays quiet.
  EXPECT_THROW(LocalMachineRegistry()->OpenKey(CompatibilityLayersKey), ERegistryException);
  EXPECT_NO_THROW(ApplyCompatibilityLayer(*LocalMachineRegistry(), ExePath));
#endif
}

TEST(MainLogicClose, RulesForEachState) {
  TLogicFixture f;
  f.Logic.State().ServiceIntf = f.Service;
  f.Logic.State().Session = "S-7";

  // Idle: closes at once, nothing asked.
  EXPECT_TRUE(f.Logic.FormCloseQuery());
  EXPECT_TRUE(f.View.Shown.empty());

  // Uploading, answered No: stays open, the upload goes on.
  f.Logic.State().FState = spUploading;
  f.View.ConfirmAnswers = {false};
  EXPECT_FALSE(f.Logic.FormCloseQuery());
  EXPECT_FALSE(f.Logic.State().FClosing);
  EXPECT_TRUE(f.Service->Log().empty());

  // Uploading, answered Yes: the service drops the session's parts.
  f.View.ConfirmAnswers = {true};
  EXPECT_TRUE(f.Logic.FormCloseQuery());
  EXPECT_TRUE(f.Logic.State().FClosing);
  EXPECT_EQ(f.Service->Log(), std::vector<std::string>{"DelTempFiles:S-7"});

  // Server work: refused with a message.
  f.Logic.State().FState = spServerWork;
  EXPECT_FALSE(f.Logic.FormCloseQuery());
  EXPECT_EQ(f.View.Shown, (std::vector<std::string>{
                              "confirm:Наистина ли желаете да прекратите изпращането на файла?",
                              "confirm:Наистина ли желаете да прекратите изпращането на файла?",
                              "inform:В момента не може да прекратите програмата!"}));
  EXPECT_EQ(f.Service->Log().size(), 1u);
}

TEST(MainLogicClose, FailedCleanUpIsShownButTheWindowStillCloses) {
  TLogicFixture f;
  f.Service->FailDelTempFiles = true;
  f.Logic.State().ServiceIntf = f.Service;
  f.Logic.State().Session = "S-9";
  f.Logic.State().FState = spUploading;
  f.View.ConfirmAnswers = {true};
  EXPECT_TRUE(f.Logic.FormCloseQuery());
  EXPECT_EQ(f.View.Shown.back(), "error:Service unavailable.");
  EXPECT_EQ(f.Service->Log(), std::vector<std::string>{"DelTempFiles:S-9"});

  // Never bound (creation stopped early): nothing to tell the service, and no crash.
  TLogicFixture unbound;
  unbound.Logic.State().FState = spUploading;
  unbound.View.ConfirmAnswers = {true};
  EXPECT_TRUE(unbound.Logic.FormCloseQuery());
  EXPECT_TRUE(unbound.Logic.State().FClosing);
}

TEST(MainLogicClose, FormCloseMarksClosingTerminatesAndDropsTheService) {
  TLogicFixture f;
  int terminations = 0;
  f.Logic.OnTerminate = [&] {
    ++terminations;
    EXPECT_TRUE(f.Logic.State().FClosing);  // set before the application is asked to end
  };
  f.Logic.State().ServiceIntf = f.Service;
  f.Logic.FormClose();
  EXPECT_EQ(terminations, 1);
  EXPECT_TRUE(f.Logic.State().FClosing);
  EXPECT_EQ(f.Logic.State().ServiceIntf, nullptr);

  TLogicFixture unassigned;  // no OnTerminate: skipped
  EXPECT_NO_THROW(unassigned.Logic.FormClose());
  EXPECT_TRUE(unassigned.Logic.State().FClosing);
}

TEST(MainLogicCreate, ResetsStateAndBindingFailureLeavesServiceEmpty) {
  TLogicFixture f;
  f.Dir.Write("sendcfg.ini", "url=ftp://127.0.0.1/\r\norg=o\r\n");
  f.Logic.State().FClosing = true;
  f.Logic.State().FState = spServerWork;
  f.Logic.Binder = [](const std::string& url) -> ISenderServicePtr {
    throw Exception("Invalid URL scheme: " + url);
  };
  EXPECT_THROW(f.Logic.FormCreate(), Exception);
  EXPECT_FALSE(f.Logic.State().FClosing);
  EXPECT_EQ(f.Logic.State().FState, 0);
  EXPECT_EQ(f.Logic.State().ServiceIntf, nullptr);
}

TEST(MainLogicSend, ParallelSettingIsKeptOnRewriteAndSendsPartsInFlight) {
  TLogicFixture f;
  // A blank org makes the window ask and rewrite the file; the parallel line stays.
  f.Dir.Write("sendcfg.ini", "url=http://127.0.0.1:1/s\r\norg= \r\nparallel=3\r\n");
  f.View.InputAnswers = {std::string("Фирма")};
  f.Logic.FormCreate();
  EXPECT_EQ(f.Dir.Read("sendcfg.ini"),
            "url=http://127.0.0.1:1/s\r\norg=\xD4\xE8\xF0\xEC\xE0\r\nparallel=3\r\n");
  ASSERT_EQ(f.BoundUrls.size(), 1u);

  // The first two parts are held until both are on their way at once.
  std::mutex lock;
  std::condition_variable arrived;
  int waiting = 0;
  bool together = false;
  f.Service->FailPart = [&](const std::string& name, int) -> std::optional<bool> {
    if (name != "big._000" && name != "big._001") return std::nullopt;
    std::unique_lock<std::mutex> guard(lock);
    if (++waiting == 2) together = true;
    arrived.notify_all();
    arrived.wait_for(guard, std::chrono::seconds(20), [&] { return together; });
    return std::nullopt;
  };
  const std::string content = Pattern(5 * 204800 + 7);  // six parts, sent as they are
  f.View.OpenFileAnswers = {f.Dir.Write("big.zip", content)};
  f.Logic.btSendClick();
  EXPECT_TRUE(together);
  EXPECT_EQ(f.BoundUrls.size(), 1u + 3u);  // a service reference for each part in flight
  std::string joined(content.size(), '\0');
  int parts = 0;
  for (const TCall& call : f.Service->Calls) {
    if (call.Op != "UploadFilePart" || call.Name == "sendDetails.txt") continue;
    ++parts;
    joined.replace(std::stoul(call.Name.substr(5)) * 204800, call.Bytes.size(), call.Bytes);
  }
  EXPECT_EQ(parts, 6);
  EXPECT_EQ(joined, content);
  const std::vector<std::string> trace = f.Service->Trace();
  EXPECT_EQ((std::vector<std::string>{"UploadFilePart sendDetails.txt", "MergeFile big.zip",
                                      "DelTempFiles"}),
            std::vector<std::string>(trace.end() - 3, trace.end()));
  EXPECT_EQ(f.View.CaptionText, "Сесия S42 - Готово");

  // Out of range: one part at a time, no further references.
  SetEntryValue(f.Logic.State().FMoreSettings, "parallel", "17");
  f.Service->FailPart = nullptr;
  f.View.OpenFileAnswers = {f.Dir.File("big.zip")};
  f.Logic.btSendClick();
  EXPECT_EQ(f.BoundUrls.size(), 4u);
  EXPECT_EQ(f.View.CaptionText, "Сесия S42 - Готово");

  // A close confirmed while parts are in flight: no new part, and the service's clean-up only
  // once those on their way are done. Part 2 is held until the question was asked.
  SetEntryValue(f.Logic.State().FMoreSettings, "parallel", "3");
  f.Service->Calls.clear();
  bool asked = false;
  std::vector<std::string> order;  // parts finished and the clean-up, as they happened
  f.Service->OnCall = [&](const std::string& op) {
    std::lock_guard<std::mutex> guard(lock);
    if (op == "DelTempFiles") order.push_back("clean-up");
  };
  f.Service->AfterPart = [&](const std::string& name) {
    std::lock_guard<std::mutex> guard(lock);
    order.push_back(name);
  };
  f.Service->FailPart = [&](const std::string& name, int) -> std::optional<bool> {
    std::unique_lock<std::mutex> guard(lock);
    if (name == "big._002")
      arrived.wait_for(guard, std::chrono::seconds(20), [&] { return asked; });
    return std::nullopt;
  };
  f.View.OnConfirm = [&] {
    std::lock_guard<std::mutex> guard(lock);
    asked = true;
    arrived.notify_all();
  };
  f.View.ConfirmAnswers = {true};
  f.View.OnProcessMessages = [&] {
    if (f.Logic.State().FState == spUploading && !f.Logic.State().FClosing)
      f.Logic.FormCloseQuery();
  };
  f.View.OpenFileAnswers = {f.Dir.File("big.zip")};
  f.Logic.btSendClick();
  EXPECT_TRUE(f.Logic.State().FClosing);
  EXPECT_EQ(f.Service->Find("MergeFile", "big.zip"), nullptr);
  // Parts 0, 1 and 2 end first and no part starts after them; the details file may follow,
  // and the clean-up comes last.
  ASSERT_GE(order.size(), 4u);
  EXPECT_EQ(std::set<std::string>(order.begin(), order.begin() + 3),
            (std::set<std::string>{"big._000", "big._001", "big._002"}));
  EXPECT_EQ(order.back(), "clean-up");
  for (size_t i = 3; i + 1 < order.size(); ++i) EXPECT_EQ(order[i], "sendDetails.txt");
}

namespace {

// Notes the thread of every call that reaches the window, and lets a test act on progress.
class TThreadCheckingView : public TScriptedView {
 public:
  std::thread::id WindowThread = std::this_thread::get_id();
  int OffThread = 0;
  std::function<void(int)> OnProgress;
  void SetCaption(const std::string& caption) override {
    Check();
    TScriptedView::SetCaption(caption);
  }
  void SetProgress(int position) override {
    Check();
    TScriptedView::SetProgress(position);
    if (OnProgress) OnProgress(position);
  }
  bool Confirm(const std::string& text) override {
    Check();
    return TScriptedView::Confirm(text);
  }
  void ShowError(const std::string& text) override {
    Check();
    TScriptedView::ShowError(text);
  }
  bool OpenFile(std::string& path) override {
    Check();
    return TScriptedView::OpenFile(path);
  }

 private:
  void Check() {
    if (std::this_thread::get_id() != WindowThread) ++OffThread;
  }
};

const std::string Settings = "url=http://127.0.0.1:9/s\r\norg=O\r\n";

}  // namespace

TEST(MainLogicSend, ErrorsEndIdleDropTheSessionOnceAndCloseWithoutAQuestion) {
  // The merge fails (a fault); the clean-up fails too: both shown, the window idle again.
  TLogicFixture f;
  f.Dir.Write("sendcfg.ini", Settings);
  f.Logic.FormCreate();
  f.Dir.Write("data.zip", "abc");
  f.Service->OnCall = [](const std::string& op) {
    if (op == "MergeFile") throw ERemotableException("Merge failed");
  };
  f.Service->FailDelTempFiles = true;
  f.View.OpenFileAnswers = {f.Dir.File("data.zip")};
  f.Logic.btSendClick();
  EXPECT_EQ(f.View.Shown,
            (std::vector<std::string>{
                "open",
                "error:Уеб сървисът отговори с грешка: опитайте отново по-късно или се обърнете "
                "към администратора му.\nMerge failed.",
                "error:Service unavailable."}));
  // (A call that raises in OnCall is not recorded: the merge's fault is in the box above.)
  EXPECT_EQ(f.Service->Trace(),
            (std::vector<std::string>{"GetSession", "UploadFilePart data._000",
                                      "UploadFilePart sendDetails.txt", "DelTempFiles"}));
  EXPECT_EQ(f.View.CaptionText, "Сесия S42 - Неуспешно");
  EXPECT_EQ(f.Logic.State().FState, spIdle);
  EXPECT_TRUE(f.View.SendEnabled);
  EXPECT_TRUE(f.Logic.FormCloseQuery());
  EXPECT_EQ(f.View.Shown.size(), 3u);

  // The service cannot be reached: no session, nothing to drop, idle, closes at once.
  TLogicFixture down;
  down.Dir.Write("sendcfg.ini", Settings);
  down.Logic.FormCreate();
  down.Dir.Write("data.zip", "abc");
  down.Service->OnCall = [](const std::string& op) {
    if (op == "GetSession")
      throw ESOAPHTTPException("Couldn't connect to server - URL:http://127.0.0.1:9/s", 0);
  };
  down.View.OpenFileAnswers = {down.Dir.File("data.zip")};
  down.Logic.btSendClick();
  EXPECT_EQ(down.View.Shown,
            (std::vector<std::string>{
                "open",
                "error:Уеб сървисът не може да бъде достигнат: проверете връзката с мрежата и "
                "адреса в настройките.\nCouldn't connect to server - URL:http://127.0.0.1:9/s."}));
  EXPECT_TRUE(down.Service->Trace().empty());  // GetSession raised; nothing followed
  EXPECT_EQ(down.View.CaptionText, "Изпращане на файлове до Ворлен - Неуспешно");
  EXPECT_EQ(down.Logic.State().FState, spIdle);
  EXPECT_TRUE(down.Logic.FormCloseQuery());
  EXPECT_EQ(down.View.Shown.size(), 2u);

  // Never bound: the box names the settings file's full path.
  TLogicFixture unbound;
  unbound.Logic.btSendClick();
  EXPECT_EQ(unbound.View.Shown,
            std::vector<std::string>{"error:Няма връзка с уеб сървиса. Проверете адреса в " +
                                     unbound.Dir.File("sendcfg.ini") + "."});
}

TEST(MainLogicSend, WorkerReachesTheWindowOnlyThroughItsThread) {
  TThreadCheckingView view;
  TMemoryRegistry registry;
  TScratchDir dir;
  auto service = std::make_shared<TFakeService>();
  TPostQueue window;
  auto logic = std::make_unique<TMainLogic>(view, registry, ExePath, dir.PathWithSeparator());
  logic->Binder = [&](const std::string&) -> ISenderServicePtr { return service; };
  logic->PostToWindow = [&](std::function<void()> action) { window.Post(std::move(action)); };
  int ended = 0;
  logic->OnSendEnded = [&] { ++ended; };
  dir.Write("sendcfg.ini", Settings);
  logic->FormCreate();

  // Three parts; the second fails its four attempts once, and the operator tries again. While
  // part 0 is on its way the window's thread is free: it runs a close request, answered No.
  dir.Write("data.zip", std::string(2 * 204800 + 5, 'x'));
  std::mutex lock;
  std::condition_variable changed;
  bool inCall = false, release = false;
  service->OnCall = [&](const std::string& op) {
    if (op != "UploadFilePart" || service->Calls.size() != 1) return;
    std::unique_lock<std::mutex> wait(lock);
    inCall = true;
    window.Post([] {});  // wakes the window's thread to see it
    changed.wait(wait, [&] { return release; });
  };
  service->FailPart = [](const std::string& name, int attempt) -> std::optional<bool> {
    if (name == "data._001" && attempt <= 4) return true;
    return std::nullopt;
  };
  view.OpenFileAnswers = {dir.File("data.zip")};
  view.ConfirmAnswers = {false, true};
  logic->btSendClick();
  EXPECT_FALSE(view.SendEnabled);  // at once, before the worker gets going
  window.RunUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return inCall;
  });
  EXPECT_EQ(logic->State().FState, spUploading);
  EXPECT_FALSE(logic->FormCloseQuery());  // the stop question, answered No, on this thread
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
    changed.notify_all();
  }
  window.RunUntil([&] { return !logic->Sending(); });

  EXPECT_EQ(view.OffThread, 0);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(view.Captions, (std::vector<std::string>{"Изпращане на файлове - Сесия S42",
                                                     "Разпакетиране. Моля, изчакайте......",
                                                     "Сесия S42 - Готово"}));
  EXPECT_EQ(view.Positions, (std::vector<int>{33, 67, 100, 100}));
  EXPECT_EQ(view.Shown,
            (std::vector<std::string>{
                "open", "confirm:Наистина ли желаете да прекратите изпращането на файла?",
                "confirm:Грешка при изпращане на файл. Желаете ли да пробвате пак?"}));
  EXPECT_EQ(view.Enabled, (std::vector<bool>{false, false, true, true}));
  EXPECT_EQ(logic->State().FState, spIdle);

  // Closing while packing: no question, the packing stops at its next block, no archive stays,
  // and the window's end waits for the worker.
  view.Ticked = false;
  dir.Write("big.bin", std::string(8 << 20, 'y'));
  TScopedEnv tmp("Tmp", dir.PathWithSeparator());
  view.OpenFileAnswers = {dir.File("big.bin")};
  bool closed = false;
  view.OnProgress = [&](int) {
    if (closed || logic->State().FState != spIdle) return;
    closed = true;
    EXPECT_TRUE(logic->FormCloseQuery());
    logic->FormClose();
  };
  service->Calls.clear();
  logic->btSendClick();
  window.RunUntil([&] { return closed; });
  logic.reset();
  EXPECT_EQ(view.Captions.back(), "Архивиране на файл. Моля изчакайте.....");
  EXPECT_FALSE(std::filesystem::exists(dir.File("vorarch.rar")));
  EXPECT_TRUE(service->Calls.empty());
}

TEST(MainLogicSend, ClosedDuringTheCredentialsStepSendsNothingMore) {
  // Every request is asked for credentials. The step stands in for the platform's dialog: the
  // window is closed while it is up (the stop question answered Yes), then the operator's OK
  // with credentials comes.
  TRawHttpServer peer(
      Always("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
             "realm=\"vorlen-logic-close\"\r\nContent-Type: text/html\r\n"
             "Content-Length: 9\r\n\r\n<p>no</p>"));
  TScriptedView view;
  TMemoryRegistry registry;
  TScratchDir dir;
  TPostQueue window;
  dir.Write("sendcfg.ini", "url=" + peer.URL("/soap") + "\r\norg=O\r\n");
  auto logic = std::make_unique<TMainLogic>(view, registry, ExePath, dir.PathWithSeparator());
  logic->PostToWindow = [&](std::function<void()> action) { window.Post(std::move(action)); };
  bool terminated = false;
  logic->OnTerminate = [&] { terminated = true; };
  logic->FormCreate();
  int asked = 0;
  int requestsAtTheStep = -1;
  logic->HTTPRIO()->HTTPWebNode().OnWinInetError = [&](uint32_t, THTTPRequest& request) {
    if (request.StatusCode() != 401) return kErrorProceed;
    ++asked;
    requestsAtTheStep = peer.RequestCount();
    std::promise<void> closed;
    window.Post([&] {
      if (!logic->State().FClosing && logic->FormCloseQuery()) logic->FormClose();
      closed.set_value();
    });
    closed.get_future().wait();
    request.SetCredentials("user", "pass");
    return kErrorForceRetry;
  };
  dir.Write("a.zip", "PK");
  view.OpenFileAnswers = {dir.File("a.zip")};
  view.ConfirmAnswers = {true};
  logic->btSendClick();
  window.RunUntil([&] { return !logic->Sending(); });
  logic.reset();
  EXPECT_TRUE(terminated);
  EXPECT_EQ(asked, 1);
  EXPECT_GE(requestsAtTheStep, 1);
  EXPECT_EQ(peer.RequestCount(), requestsAtTheStep);
  EXPECT_EQ(view.Shown,
            (std::vector<std::string>{
                "open", "confirm:Наистина ли желаете да прекратите изпращането на файла?"}));
}

TEST(MainLogicSettings, SettingsEntryAsksWithCurrentValuesSavesKeptLinesAndBindsAgain) {
  TLogicFixture f;
  f.Dir.Write("sendcfg.ini", "url=http://old/s\r\norg=O\r\nparallel=4\r\n");
  f.Logic.FormCreate();
  f.View.InputAnswers = {std::string("http://new/s"), std::string("Org 2")};
  f.Logic.EditSettings();
  EXPECT_EQ(f.View.Shown, (std::vector<std::string>{Input(UrlBox, "url", "http://old/s"),
                                                    Input(OrgBox, "Организация", "O")}));
  EXPECT_EQ(f.Dir.Read("sendcfg.ini"), "url=http://new/s\r\norg=Org 2\r\nparallel=4\r\n");
  EXPECT_EQ(f.BoundUrls, (std::vector<std::string>{"http://old/s", "http://new/s"}));

  // Cancelled: nothing changes.
  f.View.InputAnswers = {std::nullopt};
  f.Logic.EditSettings();
  EXPECT_EQ(f.Logic.State().FUrl, "http://new/s");
  EXPECT_EQ(f.BoundUrls.size(), 2u);

  // During a send: refused with a message, no box. One part at a time, so that no part binds.
  SetEntryValue(f.Logic.State().FMoreSettings, "parallel", "");
  f.Dir.Write("a.zip", "x");
  f.View.Shown.clear();
  f.View.OpenFileAnswers = {f.Dir.File("a.zip")};
  f.View.OnProcessMessages = [&] { f.Logic.EditSettings(); };
  f.Logic.btSendClick();
  EXPECT_EQ(f.View.Shown[1], "inform:Настройките може да се променят, когато няма изпращане.");
  EXPECT_EQ(f.BoundUrls.size(), 2u);
}
