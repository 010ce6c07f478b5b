// The native window over the shell logic: the first start's input boxes, the closing rules during
// a send, and a whole send to the Linux reference service.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "app/Fakes.h"
#include "app/win32/Tmain_f.h"
#include "app/win32/WideText.h"
#include "runtime/Exception.h"
#include "support/DialogWatcher.h"
#include "support/FakeService.h"
#include "support/Pattern.h"
#include "support/RawHttpServer.h"
#include "support/ScopedEnv.h"
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
  // The send runs on a worker: handles the window's messages until it has ended.
  void WaitForSend() {
    MSG message;
    while (Window->Logic().Sending() && GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // From the worker: true when the window answered a message within 500 ms.
  bool Answers() {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(Window->Form().Handle(), WM_NULL, 0, 0, SMTO_NORMAL, 500,
                               &result) != 0;
  }
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

TEST(Win32Window, SystemMenuSettingsAskWithTheCurrentValuesAndSave) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  HMENU menu = GetSystemMenu(w.Form().Handle(), FALSE);
  UINT command = 0;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = L"";
    GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
    if (std::wstring(text) == L"Настройки…") command = GetMenuItemID(menu, i);
  }
  ASSERT_NE(command, 0u);
  ExpectSettingsEntryAsksAndSaves(
      f.Dialogs, f.Dir, [&] { SendMessageW(w.Form().Handle(), WM_SYSCOMMAND, command, 0); });
  EXPECT_EQ(w.Logic().State().FUrl, "http://127.0.0.1:9/new");
  EXPECT_EQ(w.Logic().State().ServiceIntf, f.Service);
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
    // Sent from the worker, so each close request is answered before the next part.
    f.Service->AfterPart = [&](const std::string& name) {
      if (name != "sendDetails.txt") SendMessageW(w.Form().Handle(), WM_CLOSE, 0, 0);
    };
    f.PressSend();
    f.WaitForSend();
    EXPECT_EQ(f.Service->Log(),
              (std::vector<std::string>{"GetSession", "UploadFilePart:S-1:big._000",
                                        "UploadFilePart:S-1:big._001",
                                        "UploadFilePart:S-1:sendDetails.txt",
                                        "DelTempFiles:S-1"}));
    EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{"open", StopQuestion, StopQuestion}));
    EXPECT_FALSE(w.Form().Visible());
    EXPECT_TRUE(f.Terminated);
    EXPECT_LT(w.Progress(), 100);
  }
  {
    // While packing: closed without a question; the packing stops, no archive stays, and
    // nothing reaches the service.
    TWindowFixture f;
    Tmain_f& w = f.Create();
    f.Dir.Write("big.bin", Pattern(32 << 20));
    TScopedEnv tmp("Tmp", f.Dir.PathWithSeparator());
    SendMessageW(w.Form().chb, BM_SETCHECK, BST_UNCHECKED, 0);
    f.Dialogs.OpenFileAnswers = {f.Dir.File("big.bin")};
    HWND form = w.Form().Handle();
    std::atomic<bool> closedWhilePacking{false};
    std::thread closer([form, &closedWhilePacking] {
      for (;;) {
        wchar_t caption[128] = L"";
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(form, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(caption),
                                 SMTO_NORMAL, 5000, &length))
          return;
        const std::wstring text(caption);
        if (text == L"Архивиране на файл. Моля изчакайте.....") {
          closedWhilePacking = true;
          PostMessageW(form, WM_CLOSE, 0, 0);
          return;
        }
        if (text != L"Изпращане на файлове до Ворлен") return;
      }
    });
    f.PressSend();
    f.WaitForSend();
    closer.join();
    ASSERT_TRUE(closedWhilePacking);
    EXPECT_TRUE(f.Terminated);
    EXPECT_FALSE(w.Form().Visible());
    EXPECT_TRUE(f.Service->Log().empty());
    EXPECT_FALSE(std::filesystem::exists(f.Dir.File("vorarch.rar")));
    EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  }
  {
    // During a slow call: the close is answered at once (the stop question, Yes) and the window
    // goes; the program's end waits for that call, the send stops after it and drops the session.
    TWindowFixture f;
    Tmain_f& w = f.Create();
    f.Dir.Write("big.zip", Pattern(3 * 204800));
    f.Dialogs.OpenFileAnswers = {f.Dir.File("big.zip")};
    f.Dialogs.ConfirmAnswers = {true};
    std::mutex lock;
    std::condition_variable changed;
    bool ending = false;
    int uploads = 0;  // worker only
    f.Service->OnCall = [&](const std::string& op) {
      if (op != "UploadFilePart" || ++uploads != 1) return;
      PostMessageW(w.Form().Handle(), WM_CLOSE, 0, 0);
      std::unique_lock<std::mutex> wait(lock);
      changed.wait_for(wait, std::chrono::seconds(20), [&] { return ending; });
    };
    f.PressSend();
    MSG message;
    while (!f.Terminated && GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    EXPECT_FALSE(w.Form().Visible());
    EXPECT_TRUE(w.Logic().Sending());  // the call is still on its way
    {
      std::lock_guard<std::mutex> guard(lock);
      ending = true;
      changed.notify_all();
    }
    f.Window.reset();
    EXPECT_EQ(f.Service->Log(),
              (std::vector<std::string>{"GetSession", "UploadFilePart:S-1:big._000",
                                        "UploadFilePart:S-1:sendDetails.txt",
                                        "DelTempFiles:S-1"}));
    EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{"open", StopQuestion}));
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
    f.WaitForSend();
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
  f.WaitForSend();

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
  f.WaitForSend();
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

TEST(Win32Window, AnswersWithinHalfASecondInEveryPhaseAndEndsIdleAfterAnError) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  // Focus on the button at start; Enter presses it (a cancelled dialog: nothing else).
  EXPECT_EQ(GetFocus(), w.Form().btSend);
  f.Dialogs.OpenFileAnswers = {std::nullopt};
  MSG enter{w.Form().btSend, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
  EXPECT_TRUE(w.Form().DialogKey(enter));
  f.WaitForSend();
  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  // Space on the focused button presses it too.
  ASSERT_EQ(GetFocus(), w.Form().btSend);
  f.Dialogs.OpenFileAnswers = {std::nullopt};
  SendMessageW(w.Form().btSend, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(w.Form().btSend, WM_KEYUP, VK_SPACE, 0xC0000001);
  f.WaitForSend();
  EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{"open", "open"}));

  // A packed send whose merge fails: the window answers during the packing (probed from a
  // thread of its own until the packing caption shows), during a part and during the merge.
  std::vector<std::string> answered;  // worker only
  f.Service->KeepBytes = false;
  f.Service->OnCall = [&](const std::string& op) {
    if (op == "UploadFilePart" || op == "MergeFile") answered.push_back(op + (f.Answers() ? "" : " hung"));
    if (op == "MergeFile") throw Exception("Internal Server Error");
  };
  f.Dir.Write("big.bin", Pattern(6 << 20));
  TScopedEnv tmp("Tmp", f.Dir.PathWithSeparator());  // also TMP: restored for the suites after
  SendMessageW(w.Form().chb, BM_SETCHECK, BST_UNCHECKED, 0);
  f.Dialogs.OpenFileAnswers = {f.Dir.File("big.bin")};
  SetFocus(w.Form().chb);
  f.Dialogs.Shown.clear();
  f.PressSend();
  std::atomic<bool> packingSeen{false}, probeHung{false};
  std::thread packing([&] {
    for (;;) {
      wchar_t caption[128] = L"";
      DWORD_PTR length = 0;
      if (!SendMessageTimeoutW(w.Form().Handle(), WM_GETTEXT, 128,
                               reinterpret_cast<LPARAM>(caption), SMTO_NORMAL, 500, &length)) {
        probeHung = true;
        break;
      }
      const std::wstring text(caption);
      if (text == L"Архивиране на файл. Моля изчакайте.....") packingSeen = true;
      if (text != L"Изпращане на файлове до Ворлен") break;
    }
  });
  f.WaitForSend();
  packing.join();
  EXPECT_TRUE(packingSeen);
  EXPECT_FALSE(probeHung);
  ASSERT_GE(answered.size(), 3u);
  for (const std::string& op : answered) EXPECT_EQ(op.find("hung"), std::string::npos) << op;
  EXPECT_EQ(answered.back(), "MergeFile");
  EXPECT_EQ(f.Dialogs.Shown,
            (std::vector<std::string>{"open", "error:Internal Server Error."}));
  EXPECT_EQ(f.Service->Trace().back(), "DelTempFiles");
  EXPECT_EQ(w.Caption(), "Сесия S-1 - Неуспешно");
  EXPECT_EQ(w.Logic().State().FState, 0);
  EXPECT_FALSE(std::filesystem::exists(f.Dir.File("vorarch.rar")));
  EXPECT_EQ(GetFocus(), w.Form().btSend);  // given back after the send
  EXPECT_TRUE(IsWindowEnabled(w.Form().btSend));
  // Idle: closes without a question.
  f.Close();
  EXPECT_FALSE(w.Form().Visible());
  EXPECT_EQ(f.Dialogs.Shown.size(), 2u);
}

TEST(Win32Window, ClosedDuringTheCredentialsDialogEndsWithoutAnotherRequest) {
  // A peer that asks every request for credentials; the realm is this test's own, as WinINet
  // keeps given credentials per realm for the process.
  TRawHttpServer peer(
      Always("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic "
             "realm=\"vorlen-window-close\"\r\nContent-Type: text/html\r\n"
             "Content-Length: 9\r\n\r\n<p>no</p>"));
  TWindowFixture f("url=" + peer.URL("/soap") + "\r\norg=O\r\n");
  Tmain_f& w = f.Create(true, false);
  f.Dir.Write("a.zip", "PK");
  f.Dialogs.OpenFileAnswers = {f.Dir.File("a.zip")};
  f.Dialogs.ConfirmAnswers = {true};
  HWND form = w.Form().Handle();
  std::atomic<int> requestsAtTheDialog{-1};
  std::atomic<bool> ownerDisabled{false};
  // WinINet's dialog, owned by the window; the window is closed while it is up.
  TDialogWatcher credentials([form](HWND box) { return GetWindow(box, GW_OWNER) == form; },
                             [&](HWND) {
                               requestsAtTheDialog = peer.RequestCount();
                               ownerDisabled = !IsWindowEnabled(form);
                               PostMessageW(form, WM_CLOSE, 0, 0);
                             });
  f.PressSend();
  MSG message;
  while (!f.Terminated && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  ASSERT_TRUE(credentials.Answered());
  EXPECT_TRUE(ownerDisabled);  // modal to the window
  EXPECT_GE(requestsAtTheDialog, 1);
  EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{"open", StopQuestion}));
  EXPECT_FALSE(w.Form().Visible());
  // As at the program's end, at once: the window goes once the send has, while the dialog
  // that ends re-enables the window from the worker.
  f.Window.reset();
  EXPECT_EQ(peer.RequestCount(), requestsAtTheDialog);
}
