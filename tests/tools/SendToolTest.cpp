// vorlen-send against the reference service, both run as the programs they are.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "soap/SoapServerMessages.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/Process.h"
#include "support/RawHttpServer.h"
#include "support/RawSocket.h"
#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"
#include "support/TestCertificates.h"

namespace vorlen {
namespace {

#if defined(VORLEN_SEND_BINARY) && defined(VORLEN_SERVICE_BINARY)

using test::Pattern;
using test::ReadFile;
using test::TProcess;
using test::TScratchDir;

// Waits until process pid has a handler for sig (its caught-signal mask in /proc says so).
bool AwaitSignalCaught(pid_t pid, int sig) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigCgt:", 0) != 0) continue;
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      if (mask & (1ull << (sig - 1))) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polled: /proc sends no news
  }
  return false;
}

// "Изпратено от Тестова организация на " in Windows-1251.
const char kDetailsStart[] =
    "\xC8\xE7\xEF\xF0\xE0\xF2\xE5\xED\xEE \xEE\xF2 \xD2\xE5\xF1\xF2\xEE\xE2\xE0 "
    "\xEE\xF0\xE3\xE0\xED\xE8\xE7\xE0\xF6\xE8\xFF \xED\xE0 ";

class SendToolTest : public ::testing::Test {
 protected:
  SendToolTest() {
    std::filesystem::create_directory(Dir.PathWithSeparator() + "bin");
    // A copy of the program, so that the sendcfg.ini beside it is the test's own.
    std::filesystem::copy_file(VORLEN_SEND_BINARY, Sender());
  }
  std::string Sender() const { return Dir.PathWithSeparator() + "bin/vorlen-send"; }
  std::string Root() const { return Dir.PathWithSeparator() + "root/"; }

  std::string StartService(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{VORLEN_SERVICE_BINARY, "--port", "0", "--root", Root()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    Service = std::make_unique<TProcess>(
        argv, test::TProcessOptions{.Err = test::stFile,
                                    .ErrFile = Dir.PathWithSeparator() + "service.log"});
    return test::ListeningUrl(*Service);
  }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), Sender());
    TProcess sender(args);
    const int code = sender.Wait();
    Out = sender.Out();
    Err = sender.Err();
    return code;
  }
  // Ctrl-C while the service is held still, so that the press surely comes while the upload is
  // under way: the send stops after the part (or parts) in flight and nothing of the file is
  // left with the service.
  void InterruptWhileServiceHeld(const std::vector<std::string>& extra) {
    const std::string url = StartService();
    const std::string file = Dir.Write("long.bin", Pattern(60 * 204800, 3));
    Service->Signal(SIGSTOP);
    std::vector<std::string> args{Sender(), "--url", url, "--org", "O"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file);
    TProcess sender(args);
    ASSERT_TRUE(AwaitSignalCaught(sender.Pid(), SIGINT)) << "the Ctrl-C handler never came";
    sender.Signal(SIGINT);
    EXPECT_EQ(
        "Ctrl-C: изпращането спира при първа възможност; Ctrl-C отново прекратява програмата.",
        sender.ErrLine());
    Service->Signal(SIGCONT);
    const std::string caption = sender.ErrLine();
    ASSERT_EQ(0u, caption.find("Изпращане на файлове - Сесия ")) << caption;
    const std::string session = caption.substr(std::string("Изпращане на файлове - Сесия ").size());
    EXPECT_EQ(1, sender.Wait());
    // It stopped at the first pumping point.
    const std::string stopped = "\nИзпращането е прекратено.\n";
    ASSERT_GT(sender.Err().size(), stopped.size());
    EXPECT_EQ(stopped, sender.Err().substr(sender.Err().size() - stopped.size())) << sender.Err();
    EXPECT_EQ(std::string::npos, sender.Err().find("част")) << sender.Err();
    EXPECT_EQ(std::string::npos, sender.Err().find("Готово")) << sender.Err();
    ASSERT_TRUE(std::filesystem::exists(Root() + session)) << sender.Err();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root() + session)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(std::string::npos, name.find("long.")) << entry.path();
    }
  }
  // The session named in the final caption.
  std::string SessionOf(const std::string& text) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("Сесия ([0-9A-Za-z_-]+) - Готово"))) return "";
    return m[1];
  }

  TScratchDir Dir;
  std::unique_ptr<TProcess> Service;
  std::string Out, Err;
};

TEST_F(SendToolTest, PlainAndPackedFilesArriveWhole) {
  const std::string url = StartService();
  const std::string content = Pattern(450000, 1);
  const std::string file = Dir.Write("sample.dat", content);

  ASSERT_EQ(0, Run({"--url", url, "--org", "Тестова организация", file})) << Err;
  const std::string session = SessionOf(Err);
  ASSERT_FALSE(session.empty()) << Err;
  EXPECT_EQ(content, ReadFile(Root() + session + "/delivered/sample.dat"));
  const std::string details = ReadFile(Root() + session + "/sendDetails.txt");
  EXPECT_EQ(0u, details.find(kDetailsStart)) << details;
  EXPECT_EQ("\r\n", details.substr(details.size() - 2));
  // Without a terminal: status lines, and a progress line per tenth.
  const std::regex expected("Изпращане на файлове - Сесия " + session +
                            "\n"
                            " 33 %  част 1 от 3  [0-9.]+ MB/s\n"
                            " 67 %  част 2 от 3  [0-9.]+ MB/s\n"
                            "100 %  част 3 от 3  [0-9.]+ MB/s\n"
                            "Разпакетиране. Моля, изчакайте......\n"
                            "Сесия " +
                            session + " - Готово\n");
  EXPECT_TRUE(std::regex_match(Err, expected)) << Err;
  EXPECT_EQ("", Out);

  // Packed: the service unpacks the archive into the original file.
  ASSERT_EQ(0, Run({"--url", url, "--org", "Тестова организация", "--pack", file})) << Err;
  const std::string packed = SessionOf(Err);
  ASSERT_FALSE(packed.empty()) << Err;
  EXPECT_NE(session, packed);
  EXPECT_EQ(0u, Err.find("Архивиране на файл. Моля изчакайте.....\n")) << Err;
  EXPECT_EQ(content, ReadFile(Root() + packed + "/delivered/sample.dat"));
}

TEST_F(SendToolTest, SettingsComeFromTheFileBesideTheProgram) {
  const std::string url = StartService();
  // Names in any case; the organisation in Windows-1251 ("Тест").
  std::ofstream(Dir.PathWithSeparator() + "bin/sendcfg.ini", std::ios::binary)
      << "; local service\r\nURL=" << url << "\r\nOrg=\xD2\xE5\xF1\xF2\r\n";
  const std::string file = Dir.Write("a.txt", "settings from the file");
  ASSERT_EQ(0, Run({file})) << Err;
  std::string details = ReadFile(Root() + SessionOf(Err) + "/sendDetails.txt");
  EXPECT_EQ(0u, details.find("\xC8\xE7\xEF\xF0\xE0\xF2\xE5\xED\xEE \xEE\xF2 \xD2\xE5\xF1\xF2 "
                             "\xED\xE0 "))
      << details;

  // A flag wins over the file.
  ASSERT_EQ(0, Run({"--org", "Тестова организация", file})) << Err;
  details = ReadFile(Root() + SessionOf(Err) + "/sendDetails.txt");
  EXPECT_EQ(0u, details.find(kDetailsStart)) << details;
}

TEST_F(SendToolTest, FailuresAndBadUsage) {
  // A closed port: the transport's text, exit 1.
  int port = 0;
  test::CloseSocket(test::LoopbackSocket(port, 0));
  const std::string file = Dir.Write("f.bin", "x");
  const std::string closedUrl = "http://127.0.0.1:" + std::to_string(port) +
                                "/FileUploader/Sender_Server.dll/soap/ISenderService";
  EXPECT_EQ(1, Run({"--url", closedUrl, "--org", "O", file}));
  EXPECT_NE(std::string::npos,
            Err.find("Failed to connect to 127.0.0.1 port " + std::to_string(port)))
      << Err;

  // A file that is not there: exit 1 with a message naming it, before any upload.
  const std::string url = StartService();
  EXPECT_EQ(1, Run({"--url", url, "--org", "O", Dir.PathWithSeparator() + "missing.bin"}));
  EXPECT_NE(std::string::npos, Err.find(Dir.PathWithSeparator() + "missing.bin")) << Err;

  // Bad usage: exit 2 with the usage text.
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--bogus", file},
                                               {"--retry", "x", file},
                                               {file, file},
                                               {"--parallel", "0", file},
                                               {"--parallel=17", file},
                                               {"--parallel", "x", file},
                                               {"--trust-cert", "AB:CD", file},
                                               {"--url"},
                                               {"--org", "O", file}}) {
    EXPECT_EQ(2, Run(args)) << (args.empty() ? "" : args[0]);
    EXPECT_NE(std::string::npos, Err.find("Употреба: vorlen-send")) << Err;
  }
  EXPECT_NE(std::string::npos, Err.find("няма адрес на уеб сървиса")) << Err;
  EXPECT_EQ(2, Run({"--parallel", "17", file}));
  EXPECT_NE(std::string::npos, Err.find("--parallel иска цяло число от 1 до 16, а не \"17\""))
      << Err;
  for (const char* help : {"--help", "-h", "/?"}) {
    EXPECT_EQ(0, Run({help})) << help;
    EXPECT_EQ(0u, Out.find("Употреба: vorlen-send")) << help;
  }
  EXPECT_EQ(1, Run({"--url", closedUrl, "--org", "O", "--", "/?"}));  // after "--" a file name
}

TEST_F(SendToolTest, HttpsCertificatesAreCheckedBeforeAnythingIsSent) {
  const std::string tls = Dir.PathWithSeparator() + "tls/";
  std::filesystem::create_directory(tls);
  const test::TTestCertificates certs(tls);
  const std::string content = Pattern(300000, 5);
  const std::string file = Dir.Write("secret.bin", content);
  const std::string log = Dir.PathWithSeparator() + "service.log";
  const auto npos = std::string::npos;
  auto serve = [&](const std::string& name) {
    return StartService({"--tls-cert", certs.Pem(name), "--tls-key", certs.Key(name)});
  };

  // Self-signed: refused before GetSession, naming why and the fingerprint that openssl gives.
  std::string url = serve("self");
  ASSERT_EQ(0u, url.find("https://127.0.0.1:")) << url;
  const std::string fingerprint = certs.Fingerprint("self");
  ASSERT_EQ(95u, fingerprint.size()) << fingerprint;
  EXPECT_EQ(1, Run({"--url", url, "--org", "O", file}));
  EXPECT_EQ(0u, Err.find("vorlen-send: Сертификатът на уеб сървиса не може да бъде проверен.\n"))
      << Err;
  EXPECT_NE(npos, Err.find("\nПричини: непознат или самоподписан издател\n")) << Err;
  EXPECT_NE(npos, Err.find("\nSHA-256: " + fingerprint + "\n")) << Err;
  EXPECT_NE(npos, Err.find("--trust-cert")) << Err;
  // Trusting another certificate does not let this one pass; the warning comes first.
  EXPECT_EQ(1, Run({"--url", url, "--org", "O", "--trust-cert", certs.Fingerprint("other"), file}));
  EXPECT_EQ(0u, Err.find("vorlen-send: Уеб сървисът представя сертификат, различен от този, на "
                         "който сте се доверили преди."))
      << Err;
  EXPECT_EQ(npos, ReadFile(log).find("GetSession")) << ReadFile(log);

  // Trusted on the command line (without colons, in lower case): delivered byte for byte.
  std::string bare;
  for (char c : fingerprint)
    if (c != ':') bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_EQ(0, Run({"--url", url, "--org", "O", "--trust-cert", bare, file})) << Err;
  EXPECT_EQ(content, ReadFile(Root() + SessionOf(Err) + "/delivered/secret.bin"));

  // Remembered in sendcfg.ini for the URL's address; the same fingerprint for another port is
  // not taken.
  const std::string port = url.substr(18, url.find('/', 18) - 18);
  const std::string settings = Dir.PathWithSeparator() + "bin/sendcfg.ini";
  std::ofstream(settings, std::ios::binary)
      << "url=" << url << "\r\norg=O\r\ncert=127.0.0.1:" << port << " " << fingerprint << "\r\n";
  ASSERT_EQ(0, Run({file})) << Err;
  std::ofstream(settings, std::ios::binary)
      << "url=" << url << "\r\norg=O\r\ncert=127.0.0.1:1 " << fingerprint << "\r\n";
  EXPECT_EQ(1, Run({file}));
  EXPECT_NE(npos, Err.find("\nSHA-256: " + fingerprint + "\n")) << Err;

  // A CA made trusted: its certificate for this address passes without a fingerprint; an
  // expired one and one for another host name are refused with their reasons.
  test::TScopedEnv bundle("CURL_CA_BUNDLE", certs.Pem("ca"));
  ASSERT_EQ(0, Run({"--url", serve("signed"), "--org", "O", file})) << Err;
  EXPECT_EQ(content, ReadFile(Root() + SessionOf(Err) + "/delivered/secret.bin"));
  EXPECT_EQ(1, Run({"--url", serve("expired"), "--org", "O", file}));
  EXPECT_NE(npos, Err.find("\nПричини: изтекъл срок на валидност\n")) << Err;
  EXPECT_NE(npos, Err.find("\nSHA-256: " + certs.Fingerprint("expired") + "\n")) << Err;
  EXPECT_EQ(npos, ReadFile(log).find("GetSession")) << ReadFile(log);
  EXPECT_EQ(1, Run({"--url", serve("wronghost"), "--org", "O", file}));
  EXPECT_NE(npos, Err.find("\nПричини: издаден е за друго име на сървъра\n")) << Err;
  EXPECT_EQ(npos, ReadFile(log).find("GetSession")) << ReadFile(log);
}

TEST_F(SendToolTest, RetryQuestionIsAnsweredFromTheCommandLine) {
  // A service that refuses bodies of more than 100 KiB refuses every full part.
  const std::string url = StartService({"--max-body", "100K"});
  const std::string file = Dir.Write("r.bin", Pattern(300000, 2));
  EXPECT_EQ(1, Run({"--url", url, "--org", "O", "--retry", "1", file}));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(Err, m, std::regex("Сесия ([0-9a-f]+)"))) << Err;
  const std::string session = m[1];
  EXPECT_EQ("Изпращане на файлове - Сесия " + session +
                "\n"
                "Грешка при изпращане на файл. Желаете ли да пробвате пак? да\n"
                "Нов опит след 1 с.\n"
                "Грешка при изпращане на файл. Желаете ли да пробвате пак? не\n"
                "Сесия " +
                session + " - Неуспешно\n",
            Err);
  EXPECT_FALSE(std::filesystem::exists(Root() + session + "/sendDetails.txt"));

  // Without --retry and without a terminal the answer is No at once.
  EXPECT_EQ(1, Run({"--url", url, "--org", "O", file}));
  EXPECT_NE(std::string::npos,
            Err.find("Грешка при изпращане на файл. Желаете ли да пробвате пак? не\n"))
      << Err;
  EXPECT_EQ(std::string::npos, Err.find("пак? да")) << Err;
}

TEST_F(SendToolTest, InterruptStopsTheUploadAndTheServiceDropsTheParts) {
  InterruptWhileServiceHeld({});
}

TEST_F(SendToolTest, PartsInFlightArriveWholeAndStopCleanly) {
  const std::string url = StartService();
  const std::string content = Pattern(12 * 204800 + 7, 5);
  const std::string file = Dir.Write("many.dat", content);
  ASSERT_EQ(0, Run({"--url", url, "--org", "O", "--parallel", "4", file})) << Err;
  const std::string session = SessionOf(Err);
  ASSERT_FALSE(session.empty()) << Err;
  EXPECT_EQ(content, ReadFile(Root() + session + "/delivered/many.dat"));
  EXPECT_NE(std::string::npos, Err.find("\n100 %  част 13 от 13  ")) << Err;
  Service.reset();

  // Ctrl-C with four parts on their way: they finish, then the service drops every part.
  InterruptWhileServiceHeld({"--parallel", "4"});
}

TEST_F(SendToolTest, SecondInterruptEndsTheProgramAtOnce) {
  // A service that takes the connection and never answers: the session request hangs.
  int port = 0;
  const test::TRawSocket listener = test::LoopbackSocket(port, 4);
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/s";
  const std::string file = Dir.Write("f.bin", "x");

  TProcess sender({Sender(), "--url", url, "--org", "O", file});
  // The send is under way once the connection came.
  const test::TRawSocket connection = test::AcceptConnection(listener, 10000);
  ASSERT_NE(test::kNoSocket, connection) << "the request never came";

  // The first press waits for the next pumping point, and says how to end at once.
  sender.Signal(SIGINT);
  EXPECT_EQ("Ctrl-C: изпращането спира при първа възможност; Ctrl-C отново прекратява програмата.",
            sender.ErrLine());
  EXPECT_FALSE(sender.EndsWithin(200));
  sender.Signal(SIGINT);
  ASSERT_TRUE(sender.EndsWithin(10000)) << "the second Ctrl-C did not end the program";
  EXPECT_EQ(128 + SIGINT, sender.Wait());
  test::CloseSocket(connection);
  test::CloseSocket(listener);
}

TEST_F(SendToolTest, FlagsSpareTheSettingsFile) {
  const std::string url = StartService();
  const std::string file = Dir.Write("f.txt", "flags only");
  // A settings file that cannot be read: a folder in its place.
  std::filesystem::create_directory(Dir.PathWithSeparator() + "bin/sendcfg.ini");
  ASSERT_EQ(0, Run({"--url", url, "--org", "O", file})) << Err;
  EXPECT_FALSE(SessionOf(Err).empty()) << Err;
  // Needed for the organisation, it still fails the run.
  EXPECT_EQ(1, Run({"--url", url, file}));
  EXPECT_EQ(std::string::npos, Err.find("Готово")) << Err;
}

TEST_F(SendToolTest, SecondInterruptEndsTheCleanUpCall) {
  // A service that holds the first part's answer until the test lets it go, and never answers
  // the clean-up call.
  std::mutex lock;
  std::condition_variable changed;
  bool partArrived = false, releasePart = false, cleanUpArrived = false;
  const std::string ns = "urn:SenderServiceIntf-ISenderService";
  test::TRawHttpServer server([&](const test::TRawRequest& request) {
    const std::string action = request.Header("SOAPAction");
    auto answer = [&](const std::string& op, const std::string& type, const std::string& value) {
      return test::TRawReply{
          test::HttpResponse(200, "OK", "text/xml", WriteSoapResponse(op, ns, type, value))};
    };
    if (action.find("#GetSession") != std::string::npos)
      return answer("GetSession", "xsd:string", "S1");
    std::unique_lock<std::mutex> guard(lock);
    if (action.find("#UploadFilePart") != std::string::npos) {
      partArrived = true;
      changed.notify_all();
      changed.wait_for(guard, std::chrono::seconds(20), [&] { return releasePart; });
      return answer("UploadFilePart", "xsd:boolean", "true");
    }
    cleanUpArrived = action.find("#DelTempFiles") != std::string::npos;
    changed.notify_all();
    return test::TRawReply{"", false, true};
  });
  const std::string file = Dir.Write("two.bin", Pattern(300000, 4));
  // Its own temporary directory, to see that the run's details file goes with it.
  const std::string temp = Dir.PathWithSeparator() + "temp";
  std::filesystem::create_directory(temp);
  std::unique_ptr<TProcess> started;
  {
    const test::TScopedEnv tempFolder("TMPDIR", temp);
    started = std::make_unique<TProcess>(
        std::vector<std::string>{Sender(), "--url", server.URL("/s"), "--org", "O", file});
  }
  TProcess& sender = *started;
  auto await = [&](bool& flag) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(10), [&] { return flag; });
  };
  ASSERT_TRUE(await(partArrived)) << "the first part never came";
  ASSERT_TRUE(AwaitSignalCaught(sender.Pid(), SIGINT));
  sender.Signal(SIGINT);
  {
    std::lock_guard<std::mutex> guard(lock);
    releasePart = true;
  }
  changed.notify_all();
  ASSERT_TRUE(await(cleanUpArrived)) << "the stop did not ask the service to clean up";
  sender.Signal(SIGINT);
  const bool ended = sender.EndsWithin(10000);
  EXPECT_TRUE(ended) << "the second Ctrl-C did not end the clean-up call";
  if (ended) {
    EXPECT_EQ(128 + SIGINT, sender.Wait());
  }
  const std::string note = "Ctrl-C: изпращането спира при първа възможност";
  const size_t first = sender.Err().find(note);
  EXPECT_NE(std::string::npos, first) << sender.Err();
  EXPECT_EQ(std::string::npos, sender.Err().find(note, first + 1)) << sender.Err();
  EXPECT_TRUE(std::filesystem::is_empty(temp)) << "the details file was left behind";
}

#else

TEST(SendToolTest, NeedsTheBuiltPrograms) {
  GTEST_SKIP() << "vorlen-send or vorlen-service is not part of this build";
}

#endif

}  // namespace
}  // namespace vorlen
