#include "KillBench.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive/ZLBArchive.h"
#include "checksum/Checksum.h"
#include "proxy/HTTPRIO.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "server/FileNames.h"
#include "mime/SOAPAttachment.h"
#include "support/Files.h"
#include "support/Process.h"

namespace fs = std::filesystem;

namespace vorlen::bench {

namespace {

using TClock = std::chrono::steady_clock;

constexpr int kClients = 6;
constexpr size_t kPartSize = 204800;

std::string Crc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(bytes.data(), static_cast<uint32_t>(bytes.size()), crc);
  return Format("%08X", ~crc);
}

struct TTally {
  std::atomic<int> Sends{0}, Merged{0}, Unpacked{0}, Members{0}, Lost{0}, Torn{0}, Unanswered{0};
  std::atomic<int> Repeats{0};  // calls made again after the service went away
};

// The service, started again on the same port after each kill.
class TService {
 public:
  TService(const fs::path& root) : FRoot(root) { Start(0); }

  const std::string& Url() const { return FUrl; }
  // Kills and starts it again; the seconds until it listened. The freed port may be taken
  // meanwhile as the local port of an outgoing connection (ours or another program's), so the
  // start is tried again for a while.
  double Restart() {
    std::lock_guard<std::mutex> guard(FLock);
    FProcess->Signal(SIGKILL);
    FProcess->Wait();
    const auto start = TClock::now();
    for (int attempt = 1;; ++attempt) {
      try {
        Start(FPort);
        break;
      } catch (const std::exception&) {
        if (attempt == 50) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    return std::chrono::duration<double>(TClock::now() - start).count();
  }

 private:
  void Start(int port) {
    FProcess = std::make_unique<test::TProcess>(
        std::vector<std::string>{VORLEN_SERVICE_BINARY, "--port", std::to_string(port), "--root",
                                 FRoot.string()},
        test::TProcessOptions{.Err = test::stFile, .ErrFile = "/dev/null"});
    FUrl = test::ListeningUrl(*FProcess);
    FPort = std::stoi(FUrl.substr(FUrl.rfind(':') + 1));
  }

  fs::path FRoot;
  std::mutex FLock;
  std::unique_ptr<test::TProcess> FProcess;
  std::string FUrl;
  int FPort = 0;
};

// A call repeated until the service answers it (it may be away for a restart); false when it
// never does within a minute.
template <typename TResult>
bool Answered(const std::function<TResult()>& call, TResult& result, TTally& tally) {
  const auto deadline = TClock::now() + std::chrono::seconds(60);
  for (bool first = true; TClock::now() < deadline; first = false) {
    if (!first) ++tally.Repeats;
    try {
      result = call();
      return true;
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return false;
}

// One client: packed sends of 4 to 40 members until stop, each checked once DelTempFiles is
// answered, then removed.
void Client(int index, const std::string& url, const fs::path& root, const fs::path& work,
            const std::atomic<bool>& stop, TTally& tally) {
  std::mt19937_64 random(static_cast<uint64_t>(index) * 104729 + 5);
  ISenderServicePtr proxy = BindSenderService(false, url, nullptr);
  const fs::path dir = work / Format("client%d", index);
  for (int n = 0; !stop; ++n) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<std::pair<std::string, std::string>> members;
    std::vector<std::string> paths;
    const int count = 4 + static_cast<int>(random() % 37);
    for (int i = 0; i < count; ++i) {
      std::string bytes(1024 + random() % (1 << 20), '\0');
      // Half random, half repeated: compressible like real files.
      for (size_t k = 0; k < bytes.size() / 2; ++k) bytes[k] = static_cast<char>(random());
      members.emplace_back(Format("m%02d-%d.bin", i, n), bytes);
      test::WriteFile(dir / members.back().first, bytes);
      paths.push_back((dir / members.back().first).string());
    }
    TZLBArchive packer;
    packer.CreateArchive((dir / "vorarch.rar").string());
    packer.AddFiles(paths);
    packer.CloseArchive();
    const std::string archive = test::ReadFile(dir / "vorarch.rar");
    ++tally.Sends;

    std::string sess;
    if (!Answered<std::string>([&] { return proxy->GetSession(); }, sess, tally)) {
      ++tally.Unanswered;
      continue;
    }
    const auto last = static_cast<int32_t>(archive.size() / kPartSize);
    bool ok = true;
    for (int32_t i = 0; i <= last && ok; ++i) {
      const std::string part = archive.substr(i * kPartSize, kPartSize);
      bool stored = false;
      ok = Answered<bool>(
               [&] {
                 TMemoryStream stream{std::string_view(part)};
                 TSOAPAttachment attachment;
                 attachment.SetSourceStream(&stream, TStreamOwnership::owReference);
                 const bool result = proxy->UploadFilePart(sess, PartFileName("vorarch.rar", i),
                                                           Crc(part), &attachment);
                 attachment.ReleaseSourceStream();
                 return result;
               },
               stored, tally) &&
           stored;
    }
    bool merged = false, unpacked = false, cleaned = false;
    if (!ok ||
        !Answered<bool>([&] { return proxy->MergeFile(last, "vorarch.rar", sess); }, merged,
                        tally) ||
        !merged) {
      ++tally.Unanswered;
      continue;
    }
    ++tally.Merged;
    if (!Answered<bool>([&] { return proxy->UnZip(sess); }, unpacked, tally) || !unpacked) {
      ++tally.Unanswered;
      continue;
    }
    ++tally.Unpacked;
    Answered<bool>([&] { return proxy->DelTempFiles(sess); }, cleaned, tally);
    for (const auto& [name, bytes] : members) {
      ++tally.Members;
      const fs::path delivered = root / sess / "delivered" / name;
      if (!fs::exists(delivered)) {
        ++tally.Lost;
        std::printf("  lost: %s/%s\n", sess.c_str(), name.c_str());
      } else if (test::ReadFile(delivered) != bytes) {
        ++tally.Torn;
        std::printf("  torn: %s/%s\n", sess.c_str(), name.c_str());
      }
    }
    std::error_code ignored;
    fs::remove_all(root / sess, ignored);
  }
  fs::remove_all(dir);
}

// True while some session merges or unpacks: a merge's file in work/, or members staged.
bool Busy(const fs::path& root) {
  std::error_code error;
  for (const auto& session : fs::directory_iterator(root, error)) {
    for (const auto& item : fs::directory_iterator(session.path() / "work", error)) {
      const std::string name = item.path().filename().string();
      if (name.starts_with("pending-") || name == "unzip") return true;
    }
  }
  return false;
}

}  // namespace

int RunKillBench(const fs::path& dir, int kills) {
  const fs::path root = dir / "root";
  fs::create_directories(root);
  fs::create_directories(dir / "work");
  TService service(root);
  TTally tally;
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  const auto start = TClock::now();
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back(Client, c, service.Url(), root, dir / "work", std::cref(stop),
                         std::ref(tally));
  }
  std::mt19937 random(11);
  int during = 0;
  double restartSeconds = 0;
  // The clients end before the failure is told.
  struct TJoin {
    std::atomic<bool>& Stop;
    std::vector<std::thread>& Clients;
    ~TJoin() {
      Stop = true;
      for (std::thread& client : Clients) {
        if (client.joinable()) client.join();
      }
    }
  } join{stop, clients};
  for (int k = 0; k < kills; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 1200));
    // The kill lands while a merge or an unpacking is under way, a random moment into it.
    const auto giveUp = TClock::now() + std::chrono::seconds(10);
    bool busy = false;
    while (!(busy = Busy(root)) && TClock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (busy) {
      ++during;
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    }
    restartSeconds += service.Restart();
  }
  stop = true;
  for (std::thread& client : clients) client.join();
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  std::printf(
      "%d SIGKILLs (%d while a merge or an unpacking was under way), restart %.2f s on average; "
      "%d packed sends in %.1f s: %d merges and %d unpackings acknowledged, %d members checked; "
      "%d calls repeated after a kill, %d sends unanswered; acknowledged files lost: %d, "
      "torn: %d\n",
      kills, during, kills > 0 ? restartSeconds / kills : 0.0, tally.Sends.load(), seconds,
      tally.Merged.load(), tally.Unpacked.load(), tally.Members.load(), tally.Repeats.load(),
      tally.Unanswered.load(), tally.Lost.load(), tally.Torn.load());
  return tally.Lost + tally.Torn;
}

}  // namespace vorlen::bench
