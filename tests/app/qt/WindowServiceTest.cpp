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

#include "../Fakes.h"
#include "QtApp.h"
#include "app/qt/Application.h"
#include "app/qt/Tmain_f.h"
#include "support/Files.h"
#include "support/LoggedService.h"
#include "support/Pattern.h"
#include "support/ScriptedView.h"
#include "support/TestCertificates.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

struct TLiveFixture {
  TScratchDir Dir;
  TScriptedView Dialogs;
  std::unique_ptr<TLoggedService> Logged;
  THttpService* Service = nullptr;
  std::unique_ptr<Tmain_f> Window;

  // With tlsCert and tlsKey the service is https; moreSettings follow url and org.
  explicit TLiveFixture(const std::string& tlsCert = "", const std::string& tlsKey = "",
                        const std::string& moreSettings = "") {
    App();
    TServiceOptions options;
    options.Host = "127.0.0.1";
    options.Root = Dir.File("inbox");
    options.Threads = 2;
    options.TlsCert = tlsCert;
    options.TlsKey = tlsKey;
    Logged = std::make_unique<TLoggedService>(options);
    Service = &Logged->Service;
    Dir.Write("sendcfg.ini", "url=" + Service->Url() + "\r\norg=Test\r\n" + moreSettings);
    qputenv("Tmp",
            QByteArray::fromStdString(Dir.PathWithSeparator()));  // the temporary archive goes here
    Restart();
  }

  // A new start of the window, reading sendcfg.ini as it now is.
  void Restart() {
    Window.reset();
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

// An https service with a certificate of its own: the operator is asked before anything is
// sent. Yes remembers the fingerprint for the address and sends; the next start trusts it
// without asking. No sends nothing. Another certificate at that address is asked about with
// the warning first and No as the default.
TEST(WindowService, UnverifiableCertificateIsSentToOnlyWithTheOperatorsConsent) {
  TScratchDir tls;
  const TTestCertificates certs(tls.PathWithSeparator());
  const std::string fingerprint = certs.Fingerprint("self");
  const std::string bytes = Pattern(100000);
  {
    TLiveFixture f(certs.Pem("self"), certs.Key("self"));
    const std::string url = f.Service->Url();
    const std::string address = url.substr(8, url.find('/', 8) - 8);
    f.Dir.Write("data.zip", bytes);
    f.Dialogs.OpenFileAnswers = {f.Dir.File("data.zip")};
    f.Dialogs.ConfirmAnswers = {true};
    f.Window->btSend->click();
    WaitForSend(*f.Window);
    ASSERT_EQ(f.Dialogs.Shown.size(), 2u);
    EXPECT_EQ(f.Dialogs.Shown[1].find("certificate:Сертификатът на уеб сървиса не може да бъде "
                                      "проверен.\n\nАдрес: " + address +
                                      "\nПричини: непознат или самоподписан издател\nСубект: "
                                      "CN=127.0.0.1\nИздател: CN=127.0.0.1\nВалиден от "),
              0u)
        << f.Dialogs.Shown[1];
    EXPECT_NE(f.Dialogs.Shown[1].find("\nSHA-256: " + fingerprint +
                                      "\n\nЖелаете ли да се доверите на този сертификат за "
                                      "този адрес?"),
              std::string::npos);
    const std::string session = f.Window->Logic().State().Session;
    const auto delivered = f.Service->Server().SessionFolder(session) / "delivered" / "data.zip";
    EXPECT_EQ(ReadFile(delivered.string()), bytes);
    EXPECT_EQ(f.Dir.Read("sendcfg.ini"), "url=" + url + "\r\norg=Test\r\ncert=" + address + " " +
                                             fingerprint + "\r\n");

    // The next start trusts it without a question.
    f.Restart();
    f.Dialogs.Shown.clear();
    f.Dialogs.OpenFileAnswers = {f.Dir.File("data.zip")};
    f.Window->btSend->click();
    WaitForSend(*f.Window);
    EXPECT_EQ(f.Dialogs.Shown, std::vector<std::string>{"open"});
    EXPECT_EQ(f.Window->windowTitle().toStdString(),
              "Сесия " + f.Window->Logic().State().Session + " - Готово");
  }
  for (const bool replaced : {false, true}) {
    // Another certificate at an address that trusted one before is asked with the warning.
    const std::string other = certs.Fingerprint("other");
    TLiveFixture f(certs.Pem("self"), certs.Key("self"));
    if (replaced) {
      const std::string url = f.Service->Url();
      f.Dir.Write("sendcfg.ini", "url=" + url + "\r\norg=Test\r\ncert=" +
                                     url.substr(8, url.find('/', 8) - 8) + " " + other + "\r\n");
      f.Restart();
    }
    const std::string settings = f.Dir.Read("sendcfg.ini");
    f.Dir.Write("data.zip", bytes);
    f.Dialogs.OpenFileAnswers = {f.Dir.File("data.zip")};
    f.Dialogs.ConfirmAnswers = {false};
    f.Window->btSend->click();
    WaitForSend(*f.Window);
    ASSERT_EQ(f.Dialogs.Shown.size(), 3u);
    const std::string asked = replaced ? "certificate default no:Уеб сървисът представя "
                                         "сертификат, различен от този, на който сте се "
                                         "доверили преди."
                                       : "certificate:Сертификатът на уеб сървиса";
    EXPECT_EQ(f.Dialogs.Shown[1].find(asked), 0u) << f.Dialogs.Shown[1];
    EXPECT_EQ(f.Dialogs.Shown[2], "error:Сертификатът не е приет. Нищо не е изпратено на уеб сървиса.");
    const std::string log = f.Logged->Log();
    EXPECT_EQ(log, "");
    EXPECT_EQ(f.Dir.Read("sendcfg.ini"), settings);
  }
}
