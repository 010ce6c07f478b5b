// vorlen-service as a child process of a benchmark: started with the given options, its URL read
// from the first line it prints, stopped with SIGTERM; its memory and descriptors readable.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/Exception.h"

namespace vorlen::bench {

class TServiceProcess {
 public:
  explicit TServiceProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) throw Exception("pipe failed");
    args.insert(args.begin(), VORLEN_SERVICE_BINARY);
    FPid = fork();
    if (FPid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      // The request log would cost terminal time, not service time.
      if (!freopen("/dev/null", "w", stderr)) _exit(127);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[512] = {};
    const bool started = fgets(line, sizeof line, stream) != nullptr;
    fclose(stream);
    if (!started) throw Exception("the service did not start");
    std::string text(line);
    const std::string prefix = "listening on ";
    if (text.rfind(prefix, 0) != 0) throw Exception("unexpected first line: " + text);
    FUrl = text.substr(prefix.size());
    while (!FUrl.empty() && (FUrl.back() == '\n' || FUrl.back() == '\r')) FUrl.pop_back();
  }
  TServiceProcess(const TServiceProcess&) = delete;
  TServiceProcess& operator=(const TServiceProcess&) = delete;
  ~TServiceProcess() { Stop(); }

  // SIGTERM and wait; returns the exit status (-1 when killed by a signal).
  int Stop() {
    if (FPid <= 0) return FStatus;
    kill(FPid, SIGTERM);
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
    FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return FStatus;
  }
  const std::string& Url() const { return FUrl; }
  // Peak and current resident set in KiB (-1 when unknown).
  long PeakKiB() const { return StatusField("VmHWM:"); }
  long ResidentKiB() const { return StatusField("VmRSS:"); }
  // Open file descriptors.
  int OpenDescriptors() const {
    DIR* dir = opendir(("/proc/" + std::to_string(FPid) + "/fd").c_str());
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
  }

 private:
  long StatusField(const std::string& name) const {
    std::ifstream status("/proc/" + std::to_string(FPid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
    }
    return -1;
  }

  pid_t FPid = -1;
  int FStatus = -1;
  std::string FUrl;
};

}  // namespace vorlen::bench
