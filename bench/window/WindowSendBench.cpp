// bench_window_send [MiB [ROUNDS]]: the window's packed send of a file of MiB mebibytes (default
// 64, incompressible) to an in-process reference service over loopback, through TMainLogic as
// the windows drive it: once with the send on the calling thread (the window's thread, as it
// was), once on a worker whose every view call is carried to the calling thread and answered
// there. Rounds alternate (default 3 each); prints each time and the medians' ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainLogic.h"
#include "platform/Registry.h"
#include "server/HttpService.h"
#include "support/NoRegistry.h"
#include "support/Pattern.h"
#include "support/PostQueue.h"
#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"
#include "send/IOperatorView.h"

namespace {

using namespace vorlen;
using Clock = std::chrono::steady_clock;

// A window without a screen: the file dialog answers with one path, nothing else is asked.
class TBenchView : public IOperatorView {
 public:
  std::string File;
  std::string Title;
  int Position = 0;
  void SetCaption(const std::string& caption) override { Title = caption; }
  std::string Caption() const override { return Title; }
  void SetProgress(int position) override { Position = position; }
  int Progress() const override { return Position; }
  bool Checked() const override { return false; }
  void SetChecked(bool) override {}
  void SetSendEnabled(bool) override {}
  void ProcessMessages() override {}
  bool Confirm(const std::string& text) override { Fail(text); }
  void Inform(const std::string& text) override { Fail(text); }
  void ShowError(const std::string& text) override { Fail(text); }
  bool InputQuery(const std::string&, const std::string&, std::string&) override {
    Fail("input box");
  }
  bool OpenFile(std::string& path) override {
    path = File;
    return true;
  }

 private:
  [[noreturn]] static void Fail(const std::string& text) {
    std::fprintf(stderr, "bench_window_send: unexpected box: %s\n", text.c_str());
    std::exit(1);
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 64;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  test::TScratchDir dir;
  TServiceOptions options;
  options.Host = "127.0.0.1";
  options.Port = 0;
  options.Root = dir.File("inbox");
  options.Threads = 2;
  THttpService service(options, [](const std::string&) {});
  service.Start();
  dir.Write("sendcfg.ini", "url=" + service.Url() + "\r\norg=Bench\r\n");
  dir.Write("big.bin", test::Pattern(static_cast<size_t>(mib) << 20));
  test::TScopedEnv tmp("Tmp", dir.PathWithSeparator());

  auto send = [&](bool worker) {
    TBenchView view;
    view.File = dir.File("big.bin");
    vorlen::test::TNoRegistry registry;
    TMainLogic logic(view, registry, dir.PathWithSeparator() + "vorlen-sender",
                     dir.PathWithSeparator());
    vorlen::test::TPostQueue loop;
    if (worker) logic.PostToWindow = [&](std::function<void()> a) { loop.Post(std::move(a)); };
    logic.FormCreate();
    const Clock::time_point start = Clock::now();
    logic.btSendClick();
    loop.RunUntil([&] { return !logic.Sending(); });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (view.Title.find(" - Готово") == std::string::npos) {
      std::fprintf(stderr, "bench_window_send: the send did not get through: %s\n",
                   view.Title.c_str());
      std::exit(1);
    }
    return seconds;
  };

  std::vector<double> inTurn, onWorker;
  for (int i = 0; i < rounds; ++i) {
    inTurn.push_back(send(false));
    onWorker.push_back(send(true));
    std::printf("round %d: window's thread %.3f s, worker %.3f s\n", i + 1, inTurn.back(),
                onWorker.back());
  }
  const double before = Median(inTurn), after = Median(onWorker);
  std::printf("%ld MiB packed send, median of %d: window's thread %.3f s (%.1f MiB/s), worker "
              "%.3f s (%.1f MiB/s), worker/window %.3f\n",
              mib, rounds, before, mib / before, after, mib / after, after / before);
  service.Stop();
  return 0;
}
