// The window against the reference service on loopback: the whole road from the button to the
// delivered file, and a close request in the middle of an upload.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <iterator>
#include <memory>

#include "Fakes.h"
#include "QtApp.h"
#include "app/qt/TApplication.h"
#include "app/qt/Tmain_f.h"
#include "server/HttpService.h"
#include "support/Pattern.h"
#include "support/ScriptedView.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

struct TLiveFixture {
  TScratchDir Dir;
  TScriptedView Dialogs;
  std::unique_ptr<THttpService> Service;
  std::unique_ptr<Tmain_f> Window;

  TLiveFixture() {
    App();
    TServiceOptions options;
    options.Host = "127.0.0.1";
    options.Port = 0;
    options.Root = Dir.File("inbox");
    options.Threads = 2;
    Service = std::make_unique<THttpService>(options, [](const std::string&) {});
    Service->Start();
    Dir.Write("sendcfg.ini", "url=" + Service->Url() + "\r\norg=Test\r\n");
    qputenv("Tmp",
            QByteArray::fromStdString(Dir.PathWithSeparator()));  // the temporary archive goes here

    TMainWindowOptions window;
    window.ExePath = Dir.PathWithSeparator() + "vorlen-sender";
    window.Registry = std::make_unique<TMemoryRegistry>();
    window.Dialogs = &Dialogs;
    Window = std::make_unique<Tmain_f>(std::move(window));
  }
  ~TLiveFixture() {
    Window.reset();
    Service->Stop();
  }
};

}  // namespace

TEST(WindowService, PackedFileArrivesWhole) {
  TLiveFixture f;
  Tmain_f& w = *f.Window;
  ASSERT_TRUE(f.Dialogs.Shown.empty()) << f.Dialogs.Shown[0];
  const std::string bytes = Pattern(300000);  // incompressible: the archive takes two parts
  f.Dir.Write("report.pdf", bytes);
  w.chb->setChecked(false);
  f.Dialogs.OpenFileAnswers = {f.Dir.File("report.pdf")};
  w.btSend->click();
  WaitForSend(w);

  EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
  const std::string session = w.Logic().State().Session;
  ASSERT_FALSE(session.empty());
  EXPECT_EQ(w.windowTitle().toStdString(), "Сесия " + session + " - Готово");
  EXPECT_EQ(w.ProgressBar1->value(), 100);
  EXPECT_EQ(w.Logic().State().FState, 0);
  const auto delivered = f.Service->Server().SessionFolder(session) / "delivered" / "report.pdf";
  std::ifstream in(delivered, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            bytes);
}

TEST(WindowService, ConfirmedCloseDuringUploadStopsItAndDropsTheParts) {
  TLiveFixture f;
  Tmain_f& w = *f.Window;
  w.show();
  f.Dir.Write("big.zip", Pattern(5 * 204800));  // six parts, sent as they are
  f.Dialogs.OpenFileAnswers = {f.Dir.File("big.zip")};
  f.Dialogs.ConfirmAnswers = {true};
  // The first message pump inside the upload (after part 0) brings the close request.
  QTimer closer;
  closer.setInterval(0);
  QObject::connect(&closer, &QTimer::timeout, &w, [&] {
    if (w.Logic().State().FState == 1) {
      closer.stop();
      w.close();
    }
  });
  closer.start();
  w.btSend->click();
  WaitForSend(w);

  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(w.Logic().State().FClosing);
  EXPECT_EQ(w.Logic().State().ServiceIntf, nullptr);
  EXPECT_EQ(f.Dialogs.Shown,
            (std::vector<std::string>{
                "open", "confirm:Наистина ли желаете да прекратите изпращането на файла?"}));
  const auto folder = f.Service->Server().SessionFolder(w.Logic().State().Session);
  EXPECT_FALSE(std::filesystem::exists(folder / "delivered" / "big.zip"));
  std::error_code ignored;
  EXPECT_TRUE(!std::filesystem::exists(folder / "parts") ||
              std::filesystem::is_empty(folder / "parts", ignored));
  EXPECT_LT(w.ProgressBar1->value(), 100);
}
