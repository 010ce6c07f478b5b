// Child processes for the end-to-end tests: the reference service and the command-line sender,
// with their output read through pipes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace vorlen::test {

class TProcess {
 public:
  // errFile, when given, receives standard error instead of a pipe (for chatty servers that
  // nobody reads).
  explicit TProcess(const std::vector<std::string>& argv, const std::string& errFile = "") {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (errFile.empty())
      posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    else
      posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&FPid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    FOut = out[0];
    FErr = err[0];
    if (rc != 0) {
      FPid = -1;
      throw std::runtime_error("cannot start " + argv[0]);
    }
  }
  ~TProcess() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      Wait();
    }
    close(FOut);
    close(FErr);
  }
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  pid_t Pid() const { return FPid; }
  void Signal(int sig) { kill(FPid, sig); }

  // The next line of standard output / error without its end; empty when the stream ended or
  // nothing came within the time-out.
  std::string OutLine(int timeoutMs = 10000) { return ReadLine(FOut, FOutBuf, timeoutMs); }
  std::string ErrLine(int timeoutMs = 10000) { return ReadLine(FErr, FErrBuf, timeoutMs); }

  // Waits for the end; returns the exit code (128 + signal for a signal). Collects the rest of
  // both streams into AllOut / AllErr.
  int Wait() {
    while (!FEnded) {
      Drain(FOut, FOutBuf, 0);
      Drain(FErr, FErrBuf, 0);
      if (waitpid(FPid, &FStatus, WNOHANG) == FPid) break;
      Drain(FErr, FErrBuf, 50);
    }
    const int status = FStatus;
    while (Drain(FOut, FOutBuf, 1000) > 0) {
    }
    while (Drain(FErr, FErrBuf, 1000) > 0) {
    }
    AllOut += FOutBuf;
    AllErr += FErrBuf;
    FOutBuf.clear();
    FErrBuf.clear();
    FPid = -1;
    FEnded = false;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Whether the process ends within timeoutMs; Wait() then gives its code at once.
  bool EndsWithin(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!FEnded && std::chrono::steady_clock::now() < end) {
      if (waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FEnded = true;
        break;
      }
      Drain(FErr, FErrBuf, 20);  // keeps a chatty process from blocking on a full pipe
    }
    return FEnded;
  }

  std::string AllOut, AllErr;  // everything read so far, whole lines included

 private:
  // Appends what is available: 1 when something came, 0 after the time-out, -1 at the end.
  static int Drain(int fd, std::string& buf, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return 0;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return -1;
    buf.append(chunk, static_cast<size_t>(n));
    return 1;
  }
  std::string ReadLine(int fd, std::string& buf, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t nl = buf.find('\n');
      if (nl != std::string::npos) {
        std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        (fd == FOut ? AllOut : AllErr) += line + "\n";
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now()).count();
      if (left <= 0 || Drain(fd, buf, static_cast<int>(left)) < 0) return {};
    }
  }

  pid_t FPid = -1;
  bool FEnded = false;  // reaped by EndsWithin
  int FStatus = 0;
  int FOut = -1;
  int FErr = -1;
  std::string FOutBuf, FErrBuf;
};

}  // namespace vorlen::test
