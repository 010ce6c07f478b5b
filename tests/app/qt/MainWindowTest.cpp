#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "../Fakes.h"
#include "QtApp.h"
#include "app/qt/Application.h"
#include "app/qt/Tmain_f.h"
#include "proxy/HTTPRIO.h"
#include "runtime/Exception.h"
#include "support/Pattern.h"
#include "support/ScriptedView.h"
#include "transport/CurlRequest.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

struct TWindowFixture {
  TScratchDir Dir;
  TScriptedView Dialogs;
  std::shared_ptr<TFakeService> Service = std::make_shared<TFakeService>();
  TMemoryRegistry* Registry = nullptr;  // owned by the window
  std::unique_ptr<Tmain_f> Window;

  explicit TWindowFixture(const std::string& settings = "url=http://127.0.0.1:9/s\r\norg=O\r\n") {
    App();
    Service->SessionId = "S-1";
    if (!settings.empty()) Dir.Write("sendcfg.ini", settings);
  }

  // realBinder: bind through the window's own proxy instead of the recording service.
  Tmain_f& Create(TMainLogic::TBinder binder = {}, bool realBinder = false) {
    TMainWindowOptions options;
    options.ExePath = Dir.PathWithSeparator() + "vorlen-sender";
    auto registry = std::make_unique<TMemoryRegistry>();
    Registry = registry.get();
    options.Registry = std::move(registry);
    if (!realBinder) {
      options.Binder = binder ? std::move(binder)
                              : [this](const std::string&) -> ISenderServicePtr { return Service; };
    }
    options.Dialogs = &Dialogs;
    Window = std::make_unique<Tmain_f>(std::move(options));
    return *Window;
  }
};

class TThrowingObject : public QObject {
 public:
  bool Abort = false;
  bool event(QEvent*) override {
    if (Abort) throw EAbort();
    throw Exception("Handler failed");
  }
};

}  // namespace

TEST(MainWindow, LayoutTextsAndInitialState) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  EXPECT_TRUE(f.Dialogs.Shown.empty());
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Изпращане на файлове до Ворлен"));
  EXPECT_EQ(w.size(), QSize(530, 54));
  EXPECT_EQ(w.minimumSize(), QSize(530, 54));
  EXPECT_EQ(w.maximumSize(), QSize(530, 54));
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(w.ApplicationTitle(), "vorlen-sender");

  EXPECT_EQ(w.ProgressBar1->geometry(), QRect(0, 0, 530, 24));
  EXPECT_EQ(w.ProgressBar1->minimum(), 0);
  EXPECT_EQ(w.ProgressBar1->maximum(), 100);
  EXPECT_EQ(w.ProgressBar1->value(), 0);

  EXPECT_EQ(w.btSend->geometry(), QRect(-3, 25, 533, 28));
  EXPECT_EQ(w.btSend->text(), QString::fromUtf8("Изпрати файл"));
  EXPECT_TRUE(w.btSend->isEnabled());

  EXPECT_EQ(w.chb->geometry(), QRect(320, 32, 97, 17));
  EXPECT_EQ(w.chb->text(), QString::fromUtf8("Не архивирай"));
  EXPECT_TRUE(w.chb->isChecked());
  // In front of the button: the last of the siblings is drawn on top.
  const QObjectList& children = w.children();
  EXPECT_GT(children.indexOf(w.chb), children.indexOf(w.btSend));

  EXPECT_EQ(w.btSend->nextInFocusChain(), w.ProgressBar1);
  EXPECT_EQ(w.ProgressBar1->nextInFocusChain(), w.chb);

  const QString family = QFontDatabase::families().contains("MS Sans Serif")
                             ? QString("MS Sans Serif")
                             : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  EXPECT_EQ(w.font().family(), family);
  // 8 points, or the largest size below it at which the caption fits the box: the whole caption
  // is drawn within the box, beside the indicator.
  QStyleOptionButton option;
  option.initFrom(w.chb);
  const QRect text = w.chb->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w.chb);
  EXPECT_LE(text.right(), 96);
  EXPECT_LE(QFontMetrics(w.chb->font()).horizontalAdvance(w.chb->text()), text.width())
      << w.font().family().toStdString() << " " << w.font().pointSizeF() << "pt";
  EXPECT_LE(w.font().pointSizeF(), 8);
  EXPECT_GE(w.font().pointSizeF(), 6);
  if (w.font().pointSizeF() < 8) {
    QFont larger = w.font();
    larger.setPointSizeF(larger.pointSizeF() + 0.5);
    EXPECT_GT(QFontMetrics(larger).horizontalAdvance(w.chb->text()), text.width());
  }

  // Centred on the desktop when first shown.
  w.show();
  ASSERT_NE(w.screen(), nullptr);
  const QPoint offset = w.geometry().center() - w.screen()->availableGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 40) << offset.x() << "," << offset.y();

  // Creation steps ran: registry marked, service bound.
  EXPECT_EQ(f.Registry->Writes, 1);
  EXPECT_EQ(w.Logic().State().ServiceIntf, f.Service);
}

TEST(MainWindow, ViewCallsReachTheWidgets) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  IOperatorView& view = w;
  view.SetCaption("Сесия 12 - Готово");
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Сесия 12 - Готово"));
  EXPECT_EQ(view.Caption(), "Сесия 12 - Готово");
  view.SetProgress(67);
  EXPECT_EQ(w.ProgressBar1->value(), 67);
  EXPECT_EQ(view.Progress(), 67);
  view.SetChecked(false);
  EXPECT_FALSE(w.chb->isChecked());
  EXPECT_FALSE(view.Checked());
  view.SetSendEnabled(false);
  EXPECT_FALSE(w.btSend->isEnabled());
}

TEST(MainWindow, StartUpFailuresAreShownAndTheWindowStillAppears) {
  {
    TWindowFixture f("url=ftp://127.0.0.1/s\r\norg=O\r\n");
    Tmain_f& w = f.Create(
        [](const std::string&) -> ISenderServicePtr { throw Exception("Invalid URL scheme"); });
    EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"error:Invalid URL scheme."});
    EXPECT_EQ(w.Logic().State().ServiceIntf, nullptr);
    EXPECT_EQ(w.Logic().State().FUrl, "ftp://127.0.0.1/s");
    w.show();
    EXPECT_TRUE(w.isVisible());
  }
  {
    TWindowFixture f("");
    std::filesystem::create_directory(f.Dir.File("sendcfg.ini"));
    Tmain_f& w = f.Create();
    ASSERT_EQ(f.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(f.Dialogs.Shown[0].rfind("error:Cannot open file \"", 0), 0u) << f.Dialogs.Shown[0];
    EXPECT_EQ(w.Logic().State().ServiceIntf, nullptr);
  }
  {
    // No settings: the prompts come first, through the window's boxes, and the file is written.
    TWindowFixture f("");
    f.Dialogs.InputAnswers = {std::string("http://127.0.0.1:9/s"), std::string("O")};
    Tmain_f& w = f.Create();
    EXPECT_EQ(f.Dialogs.Shown.size(), 2u);
    EXPECT_EQ(f.Dir.Read("sendcfg.ini"), "url=http://127.0.0.1:9/s\r\norg=O\r\n");
    EXPECT_EQ(w.Logic().State().ServiceIntf, f.Service);
  }
}

TEST(MainWindow, CloseRequestsFollowTheBusyState) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  w.show();
  TSenderState& state = w.Logic().State();
  state.Session = "S-3";

  state.FState = spServerWork;
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());

  state.FState = spUploading;
  f.Dialogs.ConfirmAnswers = {false, true};
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(state.FClosing);
  EXPECT_TRUE(f.Service->Log().empty());

  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(state.FClosing);
  EXPECT_EQ(state.ServiceIntf, nullptr);
  EXPECT_EQ(f.Service->Log(), std::vector<std::string>{"DelTempFiles:S-3"});
  EXPECT_EQ(f.Dialogs.Shown,
            (std::vector<std::string>{
                "inform:В момента не може да прекратите програмата!",
                "confirm:Наистина ли желаете да прекратите изпращането на файла?",
                "confirm:Наистина ли желаете да прекратите изпращането на файла?"}));
}

TEST(MainWindow, IdleCloseAsksNothing) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(f.Dialogs.Shown.empty());
  EXPECT_TRUE(w.Logic().State().FClosing);
}

TEST(MainWindow, ApplicationShowsWhatEscapesAnEventHandler) {
  TApplication& app = App();
  TScriptedView view;
  app.SetErrorView(&view);
  TThrowingObject target;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
  target.Abort = true;
  EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
  app.SetErrorView(nullptr);
  EXPECT_EQ(view.Shown, std::vector<std::string>{"error:Handler failed."});
}

TEST(MainWindow, BindsThroughItsOwnProxyWithTheLongReceiveTimeout) {
  {
    TWindowFixture f("url=ftp://127.0.0.1/s\r\norg=O\r\n");
    Tmain_f& w = f.Create({}, true);
    EXPECT_EQ(f.Dialogs.Shown,
              std::vector<std::string>{
                  "error:Адресът на уеб сървиса в настройките е неверен: въведете адрес, "
                  "започващ с http:// или https://.\nInvalid url 'ftp://127.0.0.1/s' - only "
                  "supports 'http' and 'https' schemes."});
    EXPECT_EQ(w.Logic().State().ServiceIntf, nullptr);
    EXPECT_EQ(f.Dir.Read("sendcfg.ini"), "url=ftp://127.0.0.1/s\r\norg=O\r\n");
  }
  TWindowFixture f("url=http://127.0.0.1:9/FileUploader/s\r\norg=O\r\n");
  Tmain_f& w = f.Create({}, true);
  EXPECT_TRUE(f.Dialogs.Shown.empty());
  ASSERT_NE(w.Logic().State().ServiceIntf, nullptr);
  std::shared_ptr<THTTPRIO> rio = w.Logic().HTTPRIO();
  EXPECT_EQ(rio->URL(), "http://127.0.0.1:9/FileUploader/s");

  THTTPReqResp& node = rio->HTTPWebNode();
  EXPECT_FALSE(node.InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts));
  ASSERT_TRUE(node.OnBeforePost);
  TCurlRequest request(nullptr, "http://127.0.0.1:9/FileUploader/s");
  request.SetReceiveTimeoutMs(1000);
  node.OnBeforePost(node, request);
  EXPECT_EQ(request.ReceiveTimeoutMs(), 600000);

  // A 401 asks for the user and the password; a cancelled question ends the call.
  ASSERT_TRUE(node.OnCredentials);
  f.Dialogs.InputAnswers = {std::string("ivan"), std::string("s3cret"), std::nullopt};
  std::string user = "old";
  std::string password;
  EXPECT_TRUE(node.OnCredentials(node, request, 401, user, password));
  EXPECT_EQ(user, "ivan");
  EXPECT_EQ(password, "s3cret");
  user = "keep";
  password = "keep";
  EXPECT_FALSE(node.OnCredentials(node, request, 407, user, password));
  EXPECT_EQ(user, "keep");
  EXPECT_EQ(password, "keep");
  EXPECT_EQ(f.Dialogs.Shown,
            (std::vector<std::string>{"input:Удостоверяване пред уеб сървиса|Потребител|old",
                                      "input:Удостоверяване пред уеб сървиса|Парола|",
                                      "input:Удостоверяване пред прокси сървъра|Потребител|keep"}));
}

TEST(MainWindow, ContextMenuSettingsAskWithTheCurrentValuesAndSave) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  EXPECT_EQ(w.contextMenuPolicy(), Qt::ActionsContextMenu);
  ASSERT_EQ(w.actions().size(), 1);
  QAction* settings = w.actions().front();
  EXPECT_EQ(settings->text(), QString::fromUtf8("Настройки…"));
  ExpectSettingsEntryAsksAndSaves(f.Dialogs, f.Dir, [&] { settings->trigger(); });
  EXPECT_EQ(w.Logic().State().FUrl, "http://127.0.0.1:9/new");
}

TEST(MainWindow, SendButtonRunsTheSendCommand) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  w.show();
  // Enter on the focused button presses it; a cancelled dialog: nothing else happens.
  EXPECT_EQ(w.focusWidget(), w.btSend);
  f.Dialogs.OpenFileAnswers = {std::nullopt};
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(w.btSend, &enter);
  WaitForSend(w);
  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  EXPECT_TRUE(f.Service->Log().empty());
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Изпращане на файлове до Ворлен"));

  // An archive is sent as it is; a press while it runs starts no second send.
  f.Dir.Write("DATA.ZIP", "PK-bytes");
  f.Dialogs.Shown.clear();
  f.Dialogs.OpenFileAnswers = {f.Dir.File("DATA.ZIP")};
  bool nestedPress = false;
  QTimer::singleShot(0, &w, [&] {
    nestedPress = true;
    try {
      w.Logic().btSendClick();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  });
  w.btSend->click();
  WaitForSend(w);
  EXPECT_TRUE(nestedPress);
  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  EXPECT_EQ(f.Service->Log(),
            (std::vector<std::string>{"GetSession", "UploadFilePart:S-1:DATA._000",
                                      "UploadFilePart:S-1:sendDetails.txt",
                                      "MergeFile:0:DATA.ZIP:S-1", "DelTempFiles:S-1"}));
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Сесия S-1 - Готово"));
  EXPECT_EQ(w.ProgressBar1->value(), 100);
  EXPECT_EQ(w.Logic().State().FState, 0);
  EXPECT_TRUE(f.Dir.Exists("sendDetails.txt"));  // beside the executable
  EXPECT_TRUE(w.btSend->isEnabled());

  // A file named on the command line goes the same way, without the dialog.
  f.Dialogs.Shown.clear();
  const size_t calls = f.Service->Log().size();
  w.SendFiles({f.Dir.File("DATA.ZIP")});
  WaitForSend(w);
  EXPECT_TRUE(f.Dialogs.Shown.empty());
  ASSERT_EQ(f.Service->Log().size(), calls + 5);
  EXPECT_EQ(f.Service->Log()[calls + 3], "MergeFile:0:DATA.ZIP:S-1");
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Сесия S-1 - Готово"));
}

TEST(MainWindow, CloseWhileTheDialogRepaintsEndsTheSendQuietly) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  w.show();
  f.Dir.Write("a.zip", "x");
  f.Dialogs.OpenFileAnswers = {f.Dir.File("a.zip")};
  QTimer::singleShot(0, &w, [&] { w.close(); });
  w.btSend->click();
  WaitForSend(w);
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(w.Logic().State().FClosing);
  EXPECT_TRUE(f.Service->Log().empty());
  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
}

TEST(MainWindow, AnswersWithinHalfASecondInEveryPhaseAndClosesByTheRules) {
  TWindowFixture f;
  Tmain_f& w = f.Create();
  w.show();
  using namespace std::chrono_literals;
  // From another thread: an event posted to the window, answered with the caption it shows, or
  // nothing when it was not handled within 500 ms.
  auto probe = [&w]() -> std::optional<std::string> {
    auto answer = std::make_shared<std::promise<std::string>>();
    std::future<std::string> answered = answer->get_future();
    QMetaObject::invokeMethod(
        &w, [&w, answer] { answer->set_value(w.windowTitle().toStdString()); },
        Qt::QueuedConnection);
    if (answered.wait_for(500ms) != std::future_status::ready) return std::nullopt;
    return answered.get();
  };
  std::mutex lock;
  std::vector<std::optional<std::string>> seen;  // guarded by lock
  auto note = [&](std::optional<std::string> caption) {
    std::lock_guard<std::mutex> guard(lock);
    seen.push_back(std::move(caption));
  };
  // During a part and during the merge the call itself asks; the merge also brings a close
  // request, which the window refuses.
  f.Service->KeepBytes = false;
  f.Service->OnCall = [&](const std::string& op) {
    if (op == "UploadFilePart" || op == "MergeFile") note(probe());
    if (op != "MergeFile") return;
    auto closed = std::make_shared<std::promise<void>>();
    QMetaObject::invokeMethod(
        &w,
        [&w, closed] {
          w.close();
          closed->set_value();
        },
        Qt::QueuedConnection);
    closed->get_future().wait();
  };
  // Packing a large file: probed from a thread of its own until one answer shows the packing.
  f.Dir.Write("big.bin", Pattern(8 << 20));
  qputenv("Tmp", QByteArray::fromStdString(f.Dir.PathWithSeparator()));
  w.chb->setChecked(false);
  f.Dialogs.OpenFileAnswers = {f.Dir.File("big.bin")};
  w.chb->setFocus();
  w.btSend->click();
  // Probes until the caption has left the start caption; the packing is the next one.
  std::atomic<bool> packingSeen{false};
  std::atomic<bool> probing{true};
  std::thread packing([&] {
    for (;;) {
      std::optional<std::string> caption = probe();
      if (!caption) note(caption);
      if (caption == "Архивиране на файл. Моля изчакайте.....") packingSeen = true;
      if (!caption || *caption != "Изпращане на файлове до Ворлен") break;
    }
    probing = false;
    QMetaObject::invokeMethod(&w, [] {}, Qt::QueuedConnection);  // wakes the loop below
  });
  WaitForSend(w);
  while (probing) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  packing.join();

  EXPECT_TRUE(packingSeen);
  const auto uploads = std::count_if(f.Service->Calls.begin(), f.Service->Calls.end(),
                                     [](const TCall& c) { return c.Op == "UploadFilePart"; });
  EXPECT_GE(uploads, 2);  // the archive's parts and the details file
  std::vector<std::optional<std::string>> expected(
      static_cast<size_t>(uploads), std::string("Изпращане на файлове - Сесия S-1"));
  expected.push_back(std::string("Разпакетиране. Моля, изчакайте......"));
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(f.Dialogs.Shown, (std::vector<std::string>{
                                 "open", "inform:В момента не може да прекратите програмата!"}));
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Сесия S-1 - Готово"));
  EXPECT_FALSE(f.Dir.Exists("vorarch.rar"));  // the temporary archive went with the send
  EXPECT_EQ(w.focusWidget(), w.btSend);  // given back after the send
  // Idle again: closes without a question.
  w.close();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(f.Dialogs.Shown.size(), 2u);
}
