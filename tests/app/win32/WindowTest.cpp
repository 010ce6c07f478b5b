// The native window over the shell logic: the first start's input boxes, the closing rules during
// a send, and a whole send to the Linux reference service.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/Fakes.h"
#include "app/win32/Tmain_f.h"
#include "support/DialogWatcher.h"
#include "support/FakeService.h"
#include "support/Pattern.h"
#include "support/ScratchDir.h"
#include "support/ScriptedView.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

const char* const StopQuestion = "confirm:Наистина ли желаете да прекратите изпращането на файла?";

struct TWindowFixture {
  TScratchDir Dir;
  TScriptedView Dialogs;
  std::shared_ptr<TFakeService> Service = std::make_shared<TFakeService>();
  std::unique_ptr<Tmain_f> Window;
  bool Terminated = false;

  explicit TWindowFixture(const std::string& settings = "url=http://127.0.0.1:9/s\r\norg=O\r\n") {
    Service->SessionId = "S-1";
    if (!settings.empty()) Dir.Write("sendcfg.ini", settings);
  }

  // scripted: the boxes answered by Dialogs; otherwise Windows' own. fake: the recording service;
  // otherwise the window's own proxy to the configured URL.
  Tmain_f& Create(bool scripted = true, bool fake = true) {
    TMainWindowOptions options;
    options.ExePath = Dir.PathWithSeparator() + "vorlen-sender.exe";
    options.Registry = std::make_unique<TMemoryRegistry>();
    if (fake) options.Binder = [this](const std::string&) -> ISenderServicePtr { return Service; };
    if (scripted) options.Dialogs = &Dialogs;
    Window = std::make_unique<Tmain_f>(std::move(options));
    // Observed instead of ending the test's own message queue.
    Window->Logic().OnTerminate = [this] { Terminated = true; };
    Window->Show();
    return *Window;
  }
  void Close() { SendMessageW(Window->Form().Handle(), WM_CLOSE, 0, 0); }
  void PressSend() { SendMessageW(Window->Form().btSend, BM_CLICK, 0, 0); }
};

bool MainWindowVisible() {
  HWND window = FindWindowW(L"Tmain_f", nullptr);
  return window && IsWindowVisible(window);
}

}  // namespace

TEST(Win32Window, FirstStartAsksForBothSettingsBeforeTheWindowAndWritesThemInAnsi) {
  TWindowFixture f("");
  bool windowBeforeUrl = true, windowBeforeOrg = true;
  std::vector<std::wstring> prompts;
  auto answer = [&](bool& windowSeen, const wchar_t* text) {
    return [&windowSeen, &prompts, text](HWND box) {
      windowSeen = MainWindowVisible();
      prompts.push_back(ContentOf(box).Texts.at(0));
      SetWindowTextW(FindWindowExW(box, nullptr, L"Edit", nullptr), text);
      Press(box, IDOK);
    };
  };
  TDialogWatcher url(TDialogWatcher::Captioned(L"Въведете URL на уеб сървиса"),
                     answer(windowBeforeUrl, L"http://127.0.0.1:9/s"));
  TDialogWatcher org(TDialogWatcher::Captioned(L"Въведете име на организация"),
                     answer(windowBeforeOrg, L"Община Ворлен"));
  Tmain_f& w = f.Create(false);
  EXPECT_TRUE(url.Answered());
  EXPECT_TRUE(org.Answered());
  EXPECT_FALSE(windowBeforeUrl);
  EXPECT_FALSE(windowBeforeOrg);
  EXPECT_EQ(prompts, (std::vector<std::wstring>{L"url", L"Организация"}));
  EXPECT_EQ(f.Dir.Read("sendcfg.ini"),
            "url=http://127.0.0.1:9/s\r\n"
            "org=\xCE\xE1\xF9\xE8\xED\xE0 \xC2\xEE\xF0\xEB\xE5\xED\r\n");
  EXPECT_EQ(w.Logic().State().ServiceIntf, f.Service);
  EXPECT_EQ(w.Caption(), "Изпращане на файлове до Ворлен");
  EXPECT_EQ(w.ApplicationTitle(), "vorlen-sender");
  EXPECT_TRUE(MainWindowVisible());
}

TEST(Win32Window, CloseRulesFollowTheSend) {
  {
    TWindowFixture f;
    Tmain_f& w = f.Create();
    f.Close();
    EXPECT_FALSE(w.Form().Visible());
    EXPECT_TRUE(f.Terminated);
    EXPECT_TRUE(w.Logic().State().FClosing);
    EXPECT_TRUE(f.Dialogs.Shown.empty());
  }
  {
    // During the upload: No lets it go on, Yes drops the session's parts and stops it.
    TWindowFixture f;
    Tmain_f& w = f.Create();
    f.Dir.Write("big.zip", Pattern(3 * 204800));
    f.Dialogs.OpenFileAnswers = {f.Dir.File("big.zip")};
    f.Dialogs.ConfirmAnswers = {false, true};
    f.Service->AfterPart = [&](const std::string&) {
      PostMessageW(w.Form().Handle(), WM_CLOSE, 0, 0);
    };
    f.PressSend();
    EXPECT_EQ(f.Service->Log(),
              (std::vector<std::string>{"GetSession", "UploadFilePart:S-1:big._000",
                                        "UploadFilePart:S-1:big._001", "DelTempFiles:S-1"}));
    EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{"open", StopQuestion, StopQuestion}));
    EXPECT_FALSE(w.Form().Visible());
    EXPECT_TRUE(f.Terminated);
    EXPECT_LT(w.Progress(), 100);
  }
  {
    // While the service merges: refused, and the send ends normally.
    TWindowFixture f;
    Tmain_f& w = f.Create();
    f.Dir.Write("a.zip", "PK");
    f.Dialogs.OpenFileAnswers = {f.Dir.File("a.zip")};
    f.Service->OnCall = [&](const std::string& op) {
      if (op == "MergeFile") f.Close();
    };
    f.PressSend();
    EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{
                                   "open", "inform:В момента не може да прекратите програмата!"}));
    EXPECT_TRUE(w.Form().Visible());
    EXPECT_FALSE(f.Terminated);
    EXPECT_EQ(w.Caption(), "Сесия S-1 - Готово");
    EXPECT_EQ(w.Logic().State().FState, 0);
  }
}

TEST(Win32Window, SendsAFileWithACyrillicNameToTheService) {
  const char* url = std::getenv("VORLEN_TEST_SERVICE_URL");
  const char* root = std::getenv("VORLEN_TEST_SERVICE_ROOT");
  ASSERT_TRUE(url && root) << "run under wine-x11-run --service";
  TWindowFixture f(std::string("url=") + url + "\r\norg=Test\r\n");
  Tmain_f& w = f.Create(true, false);
  ASSERT_NE(w.Logic().State().ServiceIntf, nullptr);
  const std::string bytes = Pattern(300000);  // two parts
  const std::string name = "Отчет за юни.pdf";
  f.Dir.Write(name, bytes);
  ASSERT_TRUE(w.Checked());  // sent as it is
  f.Dialogs.OpenFileAnswers = {f.Dir.File(name)};
  f.PressSend();

  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  const std::string session = w.Logic().State().Session;
  ASSERT_FALSE(session.empty());
  EXPECT_EQ(w.Caption(), "Сесия " + session + " - Готово");
  EXPECT_EQ(w.Progress(), 100);
  const std::filesystem::path delivered =
      std::filesystem::u8path(std::string(root) + "\\" + session + "\\delivered\\" + name);
  std::ifstream in(delivered, std::ios::binary);
  ASSERT_TRUE(in) << delivered.string();
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) ==
              bytes);

  // The same through the command line's way in (Send To): no open dialog.
  const std::string second = "Приложение.txt";
  f.Dir.Write(second, "второ");
  w.SendFiles({f.Dir.File(second)});
  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  const std::string secondSession = w.Logic().State().Session;
  EXPECT_NE(secondSession, session);
  EXPECT_EQ(w.Caption(), "Сесия " + secondSession + " - Готово");
  std::ifstream secondIn(std::filesystem::u8path(std::string(root) + "\\" + secondSession +
                                                 "\\delivered\\" + second),
                         std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(secondIn), std::istreambuf_iterator<char>()),
            "второ");
}
