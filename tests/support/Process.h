// A child process for the tests and benchmarks (POSIX only): a program started from an argument
// vector, standard input from /dev/null, standard output and error each to a pipe, to a file or
// to the parent's own. Pipes are read on demand, line by line or whole once the child ended.
//
// Example:
//   TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root},
//                    {.Err = stFile, .ErrFile = logPath});
//   const std::string url = ListeningUrl(service);
//   ...
//   service.Signal(SIGTERM);
//   EXPECT_EQ(0, service.Wait());
//
// The destructor stops a child that still runs (SIGTERM, then SIGKILL after a grace period) and
// reaps it, so that a failed test leaves no process behind.
//
// One thread drives one TProcess; threads may each start their own.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vorlen::test {

// Where a child's standard output or error goes.
enum TStreamTarget {
  stPipe,     // a pipe the parent reads (OutLine, Out(), ...)
  stInherit,  // the parent's own stream
  stFile,     // a file, created or truncated
  stOut,      // for standard error only: wherever standard output goes
};

struct TProcessOptions {
  TStreamTarget Out = stPipe;
  TStreamTarget Err = stPipe;
  std::string OutFile{};  // when Out is stFile
  std::string ErrFile{};  // when Err is stFile
  // When not 0, the child's virtual memory is capped at this many bytes (RLIMIT_AS).
  uint64_t AddressSpace = 0;
  // When not 0, the child may open no more than this many files (RLIMIT_NOFILE, soft and hard).
  uint64_t Descriptors = 0;
};

class TProcess {
 public:
  // How long a line is waited for unless the caller says otherwise.
  static constexpr int kLineTimeoutMs = 10000;

  // Starts the program at the path argv[0] (PATH is not searched) with argv[1..].
  // Throws std::runtime_error when a file cannot be opened or the program cannot be started.
  explicit TProcess(const std::vector<std::string>& argv, const TProcessOptions& options = {});
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  pid_t Pid() const { return FPid; }
  // Sends sig to the child; nothing once it has been reaped.
  void Signal(int sig);

  // Reads the next line of standard output (error) into line, without its end. False when the
  // stream ended or no whole line came within timeoutMs (-1: no limit); an unended last line
  // counts once the stream ended. Always false for a stream that is not a pipe.
  bool OutLine(std::string& line, int timeoutMs = kLineTimeoutMs);
  bool ErrLine(std::string& line, int timeoutMs = kLineTimeoutMs);
  // The same, empty when no line came.
  std::string OutLine(int timeoutMs = kLineTimeoutMs);
  std::string ErrLine(int timeoutMs = kLineTimeoutMs);

  // Everything read from standard output (error) so far, lines already returned included; after
  // Wait(), all the child wrote.
  const std::string& Out() const { return FOut.Text; }
  const std::string& Err() const { return FErr.Text; }

  // Whether the child ends within timeoutMs; it is then reaped and Wait() returns at once. The
  // pipes are read meanwhile, so that a chatty child does not block on them.
  bool EndsWithin(int timeoutMs);
  // Waits for the end and reads the pipes to theirs. Returns the exit code, or 128 + the
  // signal's number when a signal ended the child.
  int Wait();
  // The same with a deadline: a child still running after timeoutMs is killed (SIGKILL) and
  // reaped, and the result is -1.
  int Wait(int timeoutMs);

  // Peak resident memory in KiB: VmHWM while the child runs, its ru_maxrss once it is reaped;
  // -1 when unknown.
  long PeakResidentKiB() const;
  // The child's open file descriptors; -1 once it is reaped.
  int OpenDescriptors() const;

 private:
  // The read end of a pipe, and everything read from it.
  struct TPipe {
    TPipe() = default;
    TPipe(const TPipe&) = delete;
    TPipe& operator=(const TPipe&) = delete;
    ~TPipe();
    void Close();
    int Fd = -1;  // -1 once the stream ended (or when it is no pipe)
    std::string Text;
    size_t Next = 0;  // where the next line starts
  };

  bool ReadLine(TPipe& pipe, std::string& line, int timeoutMs);
  // Reads what arrives on the open pipes within timeoutMs (or sleeps when none is open); false
  // when nothing came.
  bool Pump(int timeoutMs);
  // Collects the exit status; block says whether to wait for it.
  bool Reap(bool block);
  void DrainPipes();

  pid_t FPid = -1;
  bool FReaped = false;
  int FCode = -1;
  rusage FUsage{};
  TPipe FOut, FErr;
};

// Reads the line a starting vorlen-service prints first, "listening on URL", and returns the
// URL. Throws std::runtime_error, with what came instead, when the line is another one or none
// comes.
std::string ListeningUrl(TProcess& service);

}  // namespace vorlen::test
