#include "StartBench.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "proxy/HTTPRIO.h"
#include "runtime/Format.h"
#include "support/Process.h"

namespace fs = std::filesystem;

namespace vorlen::bench {

namespace {

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Half delivered and ended, a quarter with nothing delivered and idle for a day, a quarter with
// a part uploaded a moment ago.
void MakeFolders(const fs::path& root, int folders) {
  const auto dayAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
  for (int i = 0; i < folders; ++i) {
    const fs::path folder = root / Format("%032x", i);
    for (const char* sub : {"parts", "delivered", "work"}) fs::create_directories(folder / sub);
    switch (i % 4) {
      case 0:
      case 1:
        WriteText(folder / "delivered" / "f.txt", "delivered");
        WriteText(folder / ".session",
                  "merged=f.txt\npacked=0\nunpacked=0\nended=1\nmerge=0 9 f.txt\n");
        break;
      case 2:
        WriteText(folder / "parts" / "f._000", "part");
        fs::last_write_time(folder / "parts", dayAgo);
        fs::last_write_time(folder, dayAgo);
        break;
      default:
        WriteText(folder / "parts" / "f._000", "part");
        break;
    }
  }
}

}  // namespace

int RunStartBench(const fs::path& dir, int folders) {
  const fs::path root = dir / "root";
  fs::create_directories(root);
  const auto making = TClock::now();
  MakeFolders(root, folders);
  std::printf("start with %d session folders (made in %.1f s):", folders, Since(making));
  std::fflush(stdout);

  const auto start = TClock::now();
  test::TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.string()},
                         test::TProcessOptions{.Err = test::stFile, .ErrFile = "/dev/null"});
  const std::string url = test::ListeningUrl(service);
  const double listening = Since(start);
  ISenderServicePtr proxy = BindSenderService(false, url, nullptr);
  const std::string sess = proxy->GetSession();
  const double session = Since(start);
  std::string line;
  const bool scanned = service.OutLine(line, 600000) && line == "earlier sessions taken up";
  const double taken = Since(start);
  long peak = service.PeakResidentKiB();
  int left = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    left += entry.path().filename().string()[0] != '.';  // not .incoming or .usage
  }
  service.Signal(SIGTERM);
  const int status = service.Wait();
  std::printf(
      " listening after %.2f s, a new session after %.2f s, every folder looked at after %.1f s "
      "(%s); peak RSS %.1f MiB; %d folders left of %d (the idle quarter goes), stop status %d\n",
      listening, session, taken, scanned ? "said so" : "NOT said", static_cast<double>(peak) / 1024,
      left, folders, status);
  std::fflush(stdout);
  return scanned && !sess.empty() && status == 0 ? 0 : 1;
}

}  // namespace vorlen::bench
