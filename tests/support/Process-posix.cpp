#include "support/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace vorlen::test {

namespace {

using TClock = std::chrono::steady_clock;

// How long a child that still runs gets to end after SIGTERM before it is killed.
constexpr int kStopGraceMs = 30000;
// How long a pipe may stay silent after the child ended before its reading stops (a grandchild
// may hold it open).
constexpr int kDrainIdleMs = 1000;

// A descriptor closed with the object.
class TFd {
 public:
  explicit TFd(int fd = -1) : FFd(fd) {}
  ~TFd() { Reset(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }
  int Release() { return std::exchange(FFd, -1); }
  void Reset(int fd = -1) {
    if (FFd >= 0) close(FFd);
    FFd = fd;
  }

 private:
  int FFd;
};

// A pipe whose ends both close on exec; dup2 in the child clears that for the copy it makes.
void MakePipe(TFd& readEnd, TFd& writeEnd) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
}

int OpenOrThrow(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

// Makes the child's end of a stream: a pipe whose read end the parent keeps, a file, or nothing
// (the stream stays as it is).
void Target(TStreamTarget target, const std::string& file, TFd& readEnd, TFd& childEnd) {
  switch (target) {
    case stPipe:
      MakePipe(readEnd, childEnd);
      break;
    case stFile:
      childEnd.Reset(OpenOrThrow(file, O_WRONLY | O_CREAT | O_TRUNC));
      break;
    case stInherit:
    case stOut:
      break;
  }
}

int MillisecondsLeft(TClock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

TProcess::TPipe::~TPipe() { Close(); }

void TProcess::TPipe::Close() {
  if (Fd >= 0) close(Fd);
  Fd = -1;
}

TProcess::TProcess(const std::vector<std::string>& argv, const TProcessOptions& options) {
  if (argv.empty()) throw std::runtime_error("no program to start");
  TFd input(OpenOrThrow("/dev/null", O_RDONLY));
  TFd outRead, outChild, errRead, errChild;
  Target(options.Out, options.OutFile, outRead, outChild);
  Target(options.Err, options.ErrFile, errRead, errChild);
  // The child writes errno here when exec fails; a pipe closed empty means it started.
  TFd reportRead, reportWrite;
  MakePipe(reportRead, reportWrite);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const bool errToOut = options.Err == stOut;
  const rlimit limit{options.AddressSpace, options.AddressSpace};
  const rlimit files{options.Descriptors, options.Descriptors};

  FPid = fork();
  if (FPid < 0) throw std::runtime_error("fork failed");
  if (FPid == 0) {
    // Only async-signal-safe calls from here on: the parent may have other threads.
    dup2(input.Get(), 0);
    if (outChild.Get() >= 0) dup2(outChild.Get(), 1);
    if (errChild.Get() >= 0) dup2(errChild.Get(), 2);
    if (errToOut) dup2(1, 2);
    if (options.AddressSpace != 0) setrlimit(RLIMIT_AS, &limit);
    if (options.Descriptors != 0) setrlimit(RLIMIT_NOFILE, &files);
    execv(args[0], args.data());
    const int error = errno;
    if (write(reportWrite.Get(), &error, sizeof error) < 0) _exit(126);
    _exit(127);
  }
  reportWrite.Reset();
  int error = 0;
  ssize_t n;
  while ((n = read(reportRead.Get(), &error, sizeof error)) < 0 && errno == EINTR) {}
  if (n > 0) {
    Reap(true);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
  }
  FOut.Fd = outRead.Release();
  FErr.Fd = errRead.Release();
}

TProcess::~TProcess() {
  if (FReaped) return;
  kill(FPid, SIGTERM);
  kill(FPid, SIGCONT);  // a stopped child would hold the SIGTERM for ever
  if (!EndsWithin(kStopGraceMs)) {
    kill(FPid, SIGKILL);
    Reap(true);
  }
}

void TProcess::Signal(int sig) {
  if (!FReaped) kill(FPid, sig);
}

bool TProcess::OutLine(std::string& line, int timeoutMs) { return ReadLine(FOut, line, timeoutMs); }
bool TProcess::ErrLine(std::string& line, int timeoutMs) { return ReadLine(FErr, line, timeoutMs); }

std::string TProcess::OutLine(int timeoutMs) {
  std::string line;
  OutLine(line, timeoutMs);
  return line;
}

std::string TProcess::ErrLine(int timeoutMs) {
  std::string line;
  ErrLine(line, timeoutMs);
  return line;
}

bool TProcess::ReadLine(TPipe& pipe, std::string& line, int timeoutMs) {
  const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t newline = pipe.Text.find('\n', pipe.Next);
    if (newline != std::string::npos || (pipe.Fd < 0 && pipe.Next < pipe.Text.size())) {
      const size_t stop = newline != std::string::npos ? newline : pipe.Text.size();
      line = pipe.Text.substr(pipe.Next, stop - pipe.Next);
      pipe.Next = std::min(stop + 1, pipe.Text.size());
      return true;
    }
    if (pipe.Fd < 0) return false;
    const int left = timeoutMs < 0 ? -1 : MillisecondsLeft(end);
    if (left == 0) return false;
    Pump(left);
  }
}

bool TProcess::Pump(int timeoutMs) {
  pollfd fds[2];
  TPipe* pipes[2];
  nfds_t count = 0;
  for (TPipe* pipe : {&FOut, &FErr}) {
    if (pipe->Fd < 0) continue;
    fds[count] = {pipe->Fd, POLLIN, 0};
    pipes[count++] = pipe;
  }
  if (poll(fds, count, timeoutMs) <= 0) return false;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    char block[65536];
    const ssize_t n = read(fds[i].fd, block, sizeof block);
    if (n > 0) {
      pipes[i]->Text.append(block, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      pipes[i]->Close();
    }
  }
  return true;
}

bool TProcess::Reap(bool block) {
  if (FReaped) return true;
  int status = 0;
  pid_t done;
  while ((done = wait4(FPid, &status, block ? 0 : WNOHANG, &FUsage)) < 0 && errno == EINTR) {}
  if (done != FPid) return false;
  FReaped = true;
  FCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

void TProcess::DrainPipes() {
  while ((FOut.Fd >= 0 || FErr.Fd >= 0) && Pump(kDrainIdleMs)) {}
}

bool TProcess::EndsWithin(int timeoutMs) {
  const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Reap(false)) {
    const int left = MillisecondsLeft(end);
    if (left == 0) return false;
    Pump(std::min(left, 10));
  }
  return true;
}

int TProcess::Wait() {
  // With the pipes open, read them while polling for the end; once they closed, the end is near.
  while (!Reap(false)) {
    if (FOut.Fd < 0 && FErr.Fd < 0) {
      Reap(true);
      break;
    }
    Pump(10);
  }
  DrainPipes();
  return FCode;
}

int TProcess::Wait(int timeoutMs) {
  if (EndsWithin(timeoutMs)) return Wait();
  kill(FPid, SIGKILL);
  Reap(true);
  DrainPipes();
  return -1;
}

long TProcess::PeakResidentKiB() const {
  if (FReaped) return FUsage.ru_maxrss;
  std::ifstream status("/proc/" + std::to_string(FPid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int TProcess::OpenDescriptors() const {
  if (FReaped) return -1;
  DIR* dir = opendir(("/proc/" + std::to_string(FPid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

std::string ListeningUrl(TProcess& service) {
  const std::string prefix = "listening on ";
  std::string line;
  if (!service.OutLine(line, 30000)) throw std::runtime_error("the service did not start");
  if (line.rfind(prefix, 0) != 0) throw std::runtime_error("the service said: " + line);
  return line.substr(prefix.size());
}

}  // namespace vorlen::test
