// The vorlen-service executable as scripts start it: --port 0, the listening line on standard
// output, SIGTERM to stop.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <chrono>
#include <regex>
#include <thread>

#include "server/ServerTestSupport.h"

namespace vorlen {
namespace {

using test::TScratchDir;

// A child process with its standard output (and error) read through pipes.
class TChild {
 public:
  explicit TChild(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    FPid = fork();
    if (FPid == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]); close(out[1]); close(err[0]); close(err[1]);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    FOut = fdopen(out[0], "r");
    FErr = fdopen(err[0], "r");
  }
  ~TChild() {
    if (FPid > 0 && !FReaped) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    if (FOut) fclose(FOut);
    if (FErr) fclose(FErr);
  }
  std::string ReadLine() {
    char line[1024];
    return fgets(line, sizeof line, FOut) ? std::string(line) : std::string();
  }
  std::string ReadAll(FILE* file) {
    std::string text;
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, file)) > 0) text.append(block, n);
    return text;
  }
  std::string Out() { return ReadAll(FOut); }
  std::string Err() { return ReadAll(FErr); }
  void Signal(int signal) { kill(FPid, signal); }
  // The exit status; -1 when it did not exit normally or not within ten seconds (then it is
  // killed, so a hanging service fails the test instead of hanging it).
  int Wait() {
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FReaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FReaped = true;
    return -1;
  }

 private:
  pid_t FPid = -1;
  bool FReaped = false;
  FILE* FOut = nullptr;
  FILE* FErr = nullptr;
};

TEST(ServiceBinary, ListensAnswersAndStopsOnSigterm) {
  TScratchDir root;
  TChild service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string()});
  const std::string line = service.ReadLine();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(
      line, match,
      std::regex("listening on http://127\\.0\\.0\\.1:([0-9]+)"
                 "/FileUploader/Sender_Server\\.dll/soap/ISenderService\n")))
      << line;
  const int port = std::stoi(match[1]);
  ASSERT_GT(port, 0);

  httplib::Client client("127.0.0.1", port);
  auto result = client.Post(
      "/FileUploader/Sender_Server.dll/soap/ISenderService",
      {{"SOAPAction", "\"urn:SenderServiceIntf-ISenderService#GetSession\""}},
      "<?xml version=\"1.0\"?>\n<SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><NS1:GetSession "
      "xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"/></SOAP-ENV:Body></SOAP-ENV:Envelope>",
      "text/xml; charset=\"utf-8\"");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  std::smatch session;
  ASSERT_TRUE(std::regex_search(result->body, session,
                                std::regex("<return xsi:type=\"xsd:string\">([0-9a-f]{32})</return>")))
      << result->body;
  EXPECT_TRUE(std::filesystem::is_directory(root.Path() / "in" / session[1].str() / "parts"));

  service.Signal(SIGTERM);
  ASSERT_EQ(service.Wait(), 0);
  const std::string log = service.Err();
  EXPECT_NE(log.find(" 127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find(" " + session[1].str() + " GetSession " + session[1].str() + "\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find("vorlen-service: stopped\n"), std::string::npos) << log;
}

// Ctrl+C at a terminal stops it as cleanly, also with a client connection still open.
TEST(ServiceBinary, StopsOnSigintWithAConnectionOpen) {
  TScratchDir root;
  TChild service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", (root.Path() / "in").string()});
  std::smatch match;
  const std::string line = service.ReadLine();
  ASSERT_TRUE(std::regex_search(line, match, std::regex(":([0-9]+)/"))) << line;
  httplib::Client client("127.0.0.1", std::stoi(match[1]));
  client.set_keep_alive(true);
  auto wsdl = client.Get("/FileUploader/Sender_Server.dll/wsdl/ISenderService");
  ASSERT_TRUE(wsdl);
  EXPECT_EQ(wsdl->status, 200);
  service.Signal(SIGINT);
  EXPECT_EQ(service.Wait(), 0);
  const std::string log = service.Err();
  EXPECT_NE(log.find(" WSDL 200\n"), std::string::npos) << log;
  EXPECT_NE(log.find("vorlen-service: stopped\n"), std::string::npos) << log;
}

TEST(ServiceBinary, HelpAndBadUsage) {
  TChild help({VORLEN_SERVICE_BINARY, "--help"});
  EXPECT_EQ(help.Wait(), 0);
  const std::string text = help.Out();
  EXPECT_EQ(text.rfind("Usage: vorlen-service [options]\n", 0), 0u) << text;

  TChild bad({VORLEN_SERVICE_BINARY, "--port", "http"});
  EXPECT_EQ(bad.Wait(), 2);
  const std::string error = bad.Err();
  EXPECT_EQ(error.rfind("vorlen-service: --port: 'http' is not a number\n", 0), 0u) << error;

  // A port that is taken is reported, not ignored.
  httplib::Server blocker;
  const int taken = blocker.bind_to_any_port("127.0.0.1");
  ASSERT_GT(taken, 0);
  std::thread listener([&] { blocker.listen_after_bind(); });
  for (int i = 0; i < 5000 && !blocker.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  TScratchDir root;
  TChild clash({VORLEN_SERVICE_BINARY, "--port", std::to_string(taken), "--root",
                (root.Path() / "in").string()});
  EXPECT_EQ(clash.Wait(), 1);
  blocker.stop();
  listener.join();
  const std::string clashError = clash.Err();
  EXPECT_EQ(clashError, "vorlen-service: Cannot listen on 127.0.0.1 port " +
                            std::to_string(taken) + "\n");
}

}  // namespace
}  // namespace vorlen

#endif
