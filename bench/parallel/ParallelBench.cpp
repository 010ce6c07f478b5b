// bench_parallel [MiB] [--answers-only]: vorlen-send uploading a file of MiB mebibytes (default
// 64) to a local vorlen-service through a relay that holds the data for 25 ms each way (a 50 ms
// round trip; with --answers-only only the answers are held), with --parallel 1, 4 and 8 in one
// run, then the window's send (its shell logic, headless) with parallel=1 and parallel=4 in
// sendcfg.ini. Prints MB/s of the whole send and of its part upload (vorlen-send's own figure),
// and each against the sequential one.
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainLogic.h"
#include "parallel/DelayRelay.h"
#include "platform/Registry.h"
#include "support/NoRegistry.h"
#include "support/Pattern.h"
#include "support/Process.h"
#include "support/ScriptedView.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr auto kOneWay = std::chrono::milliseconds(25);

[[noreturn]] void Die(const std::string& text) {
  std::fprintf(stderr, "bench_parallel: %s\n", text.c_str());
  std::exit(1);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

uLong Crc(const std::string& bytes) {
  return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
               static_cast<uInt>(bytes.size()));
}

struct TFigures {
  double Whole = 0;  // MB/s of the whole send, from start to exit
  double Parts = 0;  // MB/s of the part upload, as vorlen-send shows it after the last part
};

TFigures Send(const fs::path& dir, const fs::path& root, const std::string& url,
              const fs::path& file, uLong crc, int parallel) {
  const fs::path errPath = dir / "send.err";
  const auto start = Clock::now();
  vorlen::test::TProcess sender(
      {VORLEN_SEND_BINARY, "--url", url, "--org", "bench", "--parallel", std::to_string(parallel),
       file.string()},
      {.Out = vorlen::test::stInherit, .Err = vorlen::test::stFile, .ErrFile = errPath.string()});
  const int code = sender.Wait();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const std::string err = ReadText(errPath);
  if (code != 0) Die("vorlen-send failed:\n" + err);
  std::smatch m;
  if (!std::regex_search(err, m, std::regex("Сесия ([0-9a-f]+) - Готово")))
    Die("no session in:\n" + err);
  const fs::path delivered = root / m[1].str() / "delivered" / file.filename();
  if (Crc(ReadText(delivered)) != crc) Die("the delivered file differs from the sent one");
  fs::remove(delivered);
  TFigures figures;
  figures.Whole = static_cast<double>(fs::file_size(file)) / 1e6 / seconds;
  if (std::regex_search(err, m, std::regex("100 %  част [0-9]+ от [0-9]+  ([0-9.]+) MB/s")))
    figures.Parts = std::stod(m[1].str());
  return figures;
}

// The window's send of file with parallel=N in its sendcfg.ini; MB/s of the whole send, from
// the window's start-up steps to the end of the send command.
double WindowSend(const fs::path& dir, const fs::path& root, const std::string& url,
                  const fs::path& file, uLong crc, int parallel) {
  const fs::path exeDir = dir / ("window" + std::to_string(parallel));
  fs::create_directories(exeDir);
  std::ofstream(exeDir / "sendcfg.ini", std::ios::binary)
      << "url=" << url << "\r\norg=bench\r\nparallel=" << parallel << "\r\n";
  vorlen::test::TNoRegistry registry;
  vorlen::test::TScriptedView view;
  view.OpenFileAnswers = {file.string()};
  view.Ticked = true;  // sent as it is, as vorlen-send does without --pack
  const auto start = Clock::now();
  {
    vorlen::TMainLogic logic(view, registry, (exeDir / "vorlen-sender").string(),
                             exeDir.string() + "/");
    logic.FormCreate();
    logic.btSendClick();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::smatch m;
  const std::string caption = view.CaptionText;
  if (!std::regex_search(caption, m, std::regex("Сесия ([0-9a-f]+) - Готово")))
    Die("the window's send did not end well: " + caption);
  const fs::path delivered = root / m[1].str() / "delivered" / file.filename();
  if (Crc(ReadText(delivered)) != crc) Die("the delivered file differs from the sent one");
  fs::remove(delivered);
  return static_cast<double>(fs::file_size(file)) / 1e6 / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  long mib = 64;
  bool bothWays = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--answers-only")
      bothWays = false;
    else
      mib = std::strtol(argv[i], nullptr, 10);
  }
  if (mib <= 0) Die("usage: bench_parallel [MiB] [--answers-only]");

  const fs::path dir = fs::temp_directory_path() / ("bench_parallel." + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path root = dir / "root";
  const fs::path file = dir / "payload.bin";
  const std::string payload = vorlen::test::Pattern(static_cast<size_t>(mib) << 20, 7);
  std::ofstream(file, std::ios::binary) << payload;
  const uLong crc = Crc(payload);

  {
    // The request log would cost terminal time, not service time.
    vorlen::test::TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.string()},
                                   {.Err = vorlen::test::stFile, .ErrFile = "/dev/null"});
    const std::string serviceUrl = vorlen::test::ListeningUrl(service);
    const std::regex port(":([0-9]+)/");
    std::smatch m;
    if (!std::regex_search(serviceUrl, m, port)) Die("no port in " + serviceUrl);
    const std::string path = serviceUrl.substr(serviceUrl.find('/', 7));

    std::printf("%ld MiB through a relay holding the data %lld ms %s\n", mib,
                static_cast<long long>(kOneWay.count()),
                bothWays ? "each way (50 ms round trip)" : "on the way back only");
    double sequentialWhole = 0, sequentialParts = 0, sendFour = 0;
    for (const int parallel : {1, 4, 8}) {
      // A relay of its own per send: its connections end with the sender.
      vorlen::bench::TDelayRelay relay(std::stoi(m[1].str()), kOneWay, bothWays);
      const std::string url = "http://127.0.0.1:" + std::to_string(relay.Port()) + path;
      const TFigures figures = Send(dir, root, url, file, crc, parallel);
      if (parallel == 1) {
        sequentialWhole = figures.Whole;
        sequentialParts = figures.Parts;
      }
      if (parallel == 4) sendFour = figures.Whole / sequentialWhole;
      std::printf("--parallel %d: whole send %7.2f MB/s (%.2fx)   parts %7.2f MB/s (%.2fx)\n",
                  parallel, figures.Whole, figures.Whole / sequentialWhole, figures.Parts,
                  sequentialParts > 0 ? figures.Parts / sequentialParts : 0.0);
      std::fflush(stdout);
    }
    double windowOne = 0;
    for (const int parallel : {1, 4}) {
      vorlen::bench::TDelayRelay relay(std::stoi(m[1].str()), kOneWay, bothWays);
      const std::string url = "http://127.0.0.1:" + std::to_string(relay.Port()) + path;
      const double whole = WindowSend(dir, root, url, file, crc, parallel);
      if (parallel == 1) windowOne = whole;
      std::printf("window, parallel=%d: whole send %7.2f MB/s (%.2fx)\n", parallel, whole,
                  whole / windowOne);
      if (parallel == 4) {
        const double ratio = (whole / windowOne) / sendFour;
        std::printf(
            "window's speed-up with 4 against vorlen-send's: %.2f (goal 0.90 to 1.10: %s)\n", ratio,
            ratio >= 0.9 && ratio <= 1.1 ? "met" : "MISSED");
      }
      std::fflush(stdout);
    }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
