// vorlen-service under load and attack. 16 honest clients send files of 16 KiB to 1 MiB with
// vorlen-send, first alone, then while hostile connections run slowloris, header floods, huge
// announced bodies and XML bombs, hold bodies open from 8 addresses, trickle heads from 8 more,
// churn sessions (GetSession and DelTempFiles in loops) and repeat UnZip on a merged archive, and
// the service is stopped and started again once. Prints the files delivered byte-identical out of
// those sent, the honest throughput, the honest sends' median and 99th-percentile time, the
// service's peak and final memory, its most open descriptors and the bytes it wrote to storage
// against the bytes honest sends delivered. Then packed sends while the service is killed 20 times
// during merges and unpacks (KillBench.h). --start-only: how soon the service listens over the
// session folders of earlier runs (StartBench.h). --reclaim-only: how long requests wait while
// idle sessions are looked for and removed (ReclaimBench.h).
//
// Usage: bench_service_faults [SECONDS] [--attacks NAME,...]   (default 120: a third alone, the
//          rest attacked; NAME of slowloris flood huge bombs held heads churn unzip restart, all
//          by default: one alone shows what it costs)
//        bench_service_faults --kills-only
//        bench_service_faults --start-only [FOLDERS]   (default 100000)
//        bench_service_faults --reclaim-only [SESSIONS]   (default 100000)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KillBench.h"
#include "ReclaimBench.h"
#include "StartBench.h"
#include "archive/ZLBArchive.h"
#include "checksum/Checksum.h"
#include "runtime/Format.h"
#include "support/Process.h"

namespace fs = std::filesystem;
using namespace vorlen;
using TClock = std::chrono::steady_clock;

namespace {

constexpr int kClients = 16;
const char* const kSoapPath = "/FileUploader/Sender_Server.dll/soap/ISenderService";

struct TTally {
  std::atomic<int> Sent{0}, Identical{0}, Failed{0};  // Failed: the sender reported an error
  std::atomic<int64_t> Bytes{0};
  std::atomic<int64_t> Attacks{0};
  std::mutex Lock;
  std::vector<std::string> Reasons;  // of the failed sends
  std::vector<std::pair<TClock::time_point, TClock::time_point>> Sends;  // of every honest send
};

uint32_t FileCrc(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  uint32_t crc = 0xFFFFFFFF;
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    UpdateCrc32(block.data(), static_cast<uint32_t>(in.gcount()), crc);
  }
  return ~crc;
}

void WritePattern(const fs::path& path, int64_t size, uint64_t seed) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint64_t> block(1 << 17);
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (int64_t left = size; left > 0;) {
    for (uint64_t& word : block) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8));
    out.write(reinterpret_cast<const char*>(block.data()), n);
    left -= n;
  }
}

int RunSend(const std::string& url, const fs::path& file, const fs::path& output) {
  try {
    test::TProcess sender(
        {VORLEN_SEND_BINARY, "--url", url, "--org", "Bench", "--retry", "20", file.string()},
        {.Out = test::stFile, .Err = test::stOut, .OutFile = output.string()});
    return sender.Wait();
  } catch (const std::exception&) {
    return -1;
  }
}

// The delivered copy of a file name anywhere under the root, or empty.
fs::path FindDelivered(const fs::path& root, const std::string& name) {
  std::error_code error;
  for (const auto& session : fs::directory_iterator(root, error)) {
    const fs::path candidate = session.path() / "delivered" / name;
    if (fs::exists(candidate, error)) return candidate;
  }
  return {};
}

// One honest client: files of 16 KiB to 1 MiB until the deadline, each checked and then removed.
void HonestClient(int index, const std::string& url, const fs::path& root, const fs::path& work,
                  TClock::time_point deadline, TTally& tally) {
  std::mt19937_64 random(static_cast<uint64_t>(index) * 7919 + 1);
  for (int n = 0; TClock::now() < deadline; ++n) {
    const int64_t size = (1 + static_cast<int64_t>(random() % 64)) << 14;
    const std::string name = Format("c%02d-%04d-%d.bin", index, n, static_cast<int>(getpid()));
    const fs::path file = work / name;
    WritePattern(file, size - static_cast<int64_t>(random() % 4096), random());
    const uint32_t crc = FileCrc(file);
    ++tally.Sent;
    const fs::path output = work / (name + ".out");
    std::error_code error;
    const auto sendStart = TClock::now();
    const int status = RunSend(url, file, output);
    {
      std::lock_guard<std::mutex> guard(tally.Lock);
      tally.Sends.emplace_back(sendStart, TClock::now());
    }
    const fs::path delivered = FindDelivered(root, name);
    // A send that fails after its merge (a clean-up call during the restart, say) has still
    // delivered its file; the count is of files, the sender's errors are listed apart.
    if (!delivered.empty() && fs::file_size(delivered) == fs::file_size(file) &&
        FileCrc(delivered) == crc) {
      ++tally.Identical;
      tally.Bytes += static_cast<int64_t>(fs::file_size(file));
    }
    if (status != 0) {
      ++tally.Failed;
      // The sender's last words say why.
      std::ifstream in(output);
      std::string line, last;
      while (std::getline(in, line)) {
        if (!line.empty()) last = line;
      }
      std::lock_guard<std::mutex> guard(tally.Lock);
      tally.Reasons.push_back(Format("%s (exit %d): %s", name.c_str(), status, last.c_str()));
    }
    fs::remove(output, error);
    fs::remove(file, error);
    if (!delivered.empty()) fs::remove_all(delivered.parent_path().parent_path(), error);
  }
}

// A connection from another loopback address (the service limits each address on its own).
int Connect(int port, int source) {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<uint32_t>(source));
  bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local);
  timeval timeout{2, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(sock);
    return -1;
  }
  return sock;
}

bool SendAll(int sock, const std::string& bytes) {
  return send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::string Head(const std::string& extra) {
  return std::string("POST ") + kSoapPath +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
         "SOAPAction: \"urn:SenderServiceIntf-ISenderService#GetSession\"\r\n" +
         extra;
}

// Sends a whole request and waits for the answer (or the close).
void Fire(int port, int source, const std::string& request) {
  const int sock = Connect(port, source);
  if (sock < 0) return;
  SendAll(sock, request);
  char block[4096];
  while (recv(sock, block, sizeof block, 0) > 0) {}
  close(sock);
}

// A second later, bytes more on every held connection; the ones the service closed are dropped.
void Trickle(std::vector<int>& sockets, const std::string& bytes) {
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (int& sock : sockets) {
    if (!SendAll(sock, bytes)) {
      close(sock);
      sock = -1;
    }
  }
  std::erase(sockets, -1);
}

void Slowloris(int port, const std::atomic<bool>& stop, TTally& tally) {
  std::vector<int> sockets;
  while (!stop) {
    while (sockets.size() < 64) {
      const int sock = Connect(port, 2);
      if (sock < 0) break;
      SendAll(sock, "POST ");
      sockets.push_back(sock);
      ++tally.Attacks;
    }
    Trickle(sockets, "x");
  }
  for (int sock : sockets) close(sock);
}

void HeaderFlood(int port, const std::atomic<bool>& stop, TTally& tally) {
  const std::string lines = [] {
    std::string text;
    const std::string value(200, 'f');
    for (int i = 0; i < 100; ++i) text += Format("X-Flood-%d: %s\r\n", i, value.c_str());
    return text;
  }();
  while (!stop) {
    const int sock = Connect(port, 3);
    if (sock < 0) continue;
    ++tally.Attacks;
    if (SendAll(sock, Head(""))) {
      while (!stop && SendAll(sock, lines)) {}
    }
    close(sock);
  }
}

void HugeBodies(int port, const std::atomic<bool>& stop, TTally& tally) {
  while (!stop) {
    ++tally.Attacks;
    // Announced far beyond the limit, and announced at the limit but never sent.
    Fire(port, 4, Head("Content-Length: 1099511627776\r\n\r\n"));
    const int sock = Connect(port, 4);
    const std::string start = Head("Content-Length: 8388608\r\n\r\n") + std::string(60000, ' ');
    if (sock >= 0 && SendAll(sock, start)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (sock >= 0) close(sock);
  }
}

void XmlBombs(int port, const std::atomic<bool>& stop, TTally& tally) {
  std::string attributes = "<?xml version=\"1.0\"?><a";
  for (int i = 0; i < 200000; ++i) attributes += Format(" a%d=\"\"", i);
  attributes += "/>";
  std::string empties = "<?xml version=\"1.0\"?><a>";
  while (empties.size() < 7'900'000) empties += "<b/>";
  empties += "</a>";
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
      "]><l>&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;</l>";
  const std::string bombs[] = {attributes, empties, laughs};
  for (size_t i = 0; !stop; ++i) {
    const std::string& bomb = bombs[i % 3];
    Fire(port, 5, Head("Content-Length: " + std::to_string(bomb.size()) + "\r\n\r\n") + bomb);
    ++tally.Attacks;
  }
}

// A whole request from a loopback address and its answer (empty when none came).
std::string Exchange(int port, int source, const std::string& request) {
  const int sock = Connect(port, source);
  if (sock < 0) return {};
  std::string answer;
  if (SendAll(sock, request)) {
    char block[4096];
    for (ssize_t n; (n = recv(sock, block, sizeof block, 0)) > 0;) answer.append(block, n);
  }
  close(sock);
  return answer;
}

std::string Envelope(const std::string& operation, const std::string& params) {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><NS1:" +
         operation + " xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">" + params + "</NS1:" +
         operation + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Param(const char* name, const std::string& value) {
  return Format("<%s>%s</%s>", name, value.c_str(), name);
}

std::string Call(int port, int source, const std::string& operation, const std::string& params) {
  const std::string body = Envelope(operation, params);
  return Exchange(port, source,
                  std::string("POST ") + kSoapPath +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                      "Content-Type: text/xml\r\nSOAPAction: \"urn:SenderServiceIntf-"
                      "ISenderService#" +
                      operation + "\"\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body);
}

std::string NewSession(int port, int source) {
  const std::string answer = Call(port, source, "GetSession", "");
  const size_t at = answer.find("<return");
  const size_t start = answer.find('>', at);
  const size_t end = answer.find("</return>", start);
  if (at == std::string::npos || end == std::string::npos) return {};
  return answer.substr(start + 1, end - start - 1);
}

// Bodies announced at 8 MiB, 1 MiB of each sent at once and then just enough to keep the
// minimum rate, from 8 addresses with as many connections as each is let have.
void HeldBodies(int port, const std::atomic<bool>& stop, TTally& tally) {
  const std::string head = std::string("POST ") + kSoapPath +
                           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/related; "
                           "boundary=B\r\nContent-Length: 8388608\r\n\r\n";
  const std::string burst(1 << 20, 'h');
  std::vector<int> sockets;
  while (!stop) {
    for (int address = 0; address < 8 && !stop; ++address) {
      for (int i = 0; i < 4; ++i) {
        const int sock = Connect(port, 20 + address);
        if (sock < 0) break;
        if (SendAll(sock, head) && SendAll(sock, burst)) {
          sockets.push_back(sock);
          ++tally.Attacks;
        } else {
          close(sock);
        }
      }
    }
    Trickle(sockets, std::string(2048, 'h'));
  }
  for (int sock : sockets) close(sock);
}

// Request heads a byte a second from 8 addresses.
void SlowHeads(int port, const std::atomic<bool>& stop, TTally& tally) {
  std::vector<int> sockets;
  while (!stop) {
    for (int address = 0; address < 8; ++address) {
      for (int i = 0; i < 4; ++i) {
        const int sock = Connect(port, 30 + address);
        if (sock < 0) break;
        SendAll(sock, "P");
        sockets.push_back(sock);
        ++tally.Attacks;
      }
    }
    Trickle(sockets, "O");
  }
  for (int sock : sockets) close(sock);
}

// GetSession and DelTempFiles as fast as the service answers.
void SessionChurn(int port, int source, const std::atomic<bool>& stop, TTally& tally) {
  while (!stop) {
    const std::string sess = NewSession(port, source);
    ++tally.Attacks;
    if (!sess.empty()) Call(port, source, "DelTempFiles", Param("Sess", sess));
  }
}

// An archive of about 1.5 MB, merged once and unpacked again and again.
void RepeatedUnZip(int port, int source, const std::string& archive, const std::atomic<bool>& stop,
                   TTally& tally) {
  const std::string sess = NewSession(port, source);
  if (sess.empty()) return;
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(archive.data(), static_cast<uint32_t>(archive.size()), crc);
  const std::string root =
      Envelope("UploadFilePart", Param("Sess", sess) + Param("PartName", "a._000") +
                                     Param("Hash", Format("%08X", ~crc)) +
                                     "<FilePart href=\"cid:part\"/>");
  const std::string body = "\r\n--B\r\nContent-Type: text/xml\r\nContent-ID: <root>\r\n\r\n" +
                           root + "\r\n--B\r\nContent-ID: <part>\r\n\r\n" + archive +
                           "\r\n--B--\r\n";
  Exchange(port, source,
           std::string("POST ") + kSoapPath +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: "
               "multipart/related; boundary=B\r\nSOAPAction: "
               "\"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body);
  Call(port, source, "MergeFile",
       "<Parts>0</Parts>" + Param("FileName", "a.rar") + Param("Sess", sess));
  while (!stop) {
    Call(port, source, "UnZip", Param("Sess", sess));
    ++tally.Attacks;
  }
}

std::string BenchArchive(const fs::path& dir) {
  fs::create_directories(dir);
  std::vector<std::string> paths;
  for (int i = 0; i < 4; ++i) {
    const fs::path member = dir / Format("m%d.bin", i);
    std::ofstream out(member, std::ios::binary);
    std::mt19937 random(static_cast<unsigned>(i));
    for (int j = 0; j < 400000; ++j) out.put(static_cast<char>('a' + random() % 4));
    paths.push_back(member.string());
  }
  TZLBArchive archive;
  archive.CreateArchive((dir / "a.rar").string());
  archive.AddFiles(paths);
  archive.CloseArchive();
  std::ifstream in(dir / "a.rar", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes a process had written to storage (less what was dropped unwritten), and its resident
// memory now.
int64_t StorageBytes(pid_t pid) {
  std::ifstream in(Format("/proc/%d/io", static_cast<int>(pid)));
  int64_t written = 0, cancelled = 0;
  for (std::string key; in >> key;) {
    int64_t value = 0;
    in >> value;
    if (key == "write_bytes:") written = value;
    if (key == "cancelled_write_bytes:") cancelled = value;
  }
  return written - cancelled;
}

long ResidentKiB(pid_t pid) {
  std::ifstream in(Format("/proc/%d/status", static_cast<int>(pid)));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

struct TRunResult {
  double Seconds = 0;
  int Sent = 0, Identical = 0, Failed = 0;
  int64_t Bytes = 0, Attacks = 0;
  long PeakKiB = 0, FinalKiB = 0;
  int PeakDescriptors = 0;
  int64_t StorageBytes = 0;
  double MedianSeconds = 0, P99Seconds = 0;
  // The same without the sends under way while the service was stopped and started again.
  double CalmP99Seconds = 0;
  int CaughtSends = 0;
  double StopSeconds = -1, RestartSeconds = -1;
  int StopStatus = -1;
  std::vector<std::string> Reasons;
};

// Which attacks run: all of them unless some are named.
struct TAttacks {
  std::string Names;  // comma-separated; empty for all
  bool On(const char* name) const {
    if (Names.empty()) return true;
    return ("," + Names + ",").find("," + std::string(name) + ",") != std::string::npos;
  }
};

const char* const kAttackNames[] = {"slowloris", "flood", "huge",  "bombs", "held",
                                    "heads",     "churn", "unzip", "restart"};

double Percentile(std::vector<double> times, int percent) {
  if (times.empty()) return 0;
  std::sort(times.begin(), times.end());
  return times[std::min(times.size() - 1, times.size() * static_cast<size_t>(percent) / 100)];
}

TRunResult Run(const fs::path& root, const fs::path& work, int seconds, bool attack,
               const std::string& archive, const TAttacks& attacks = {}) {
  fs::create_directories(root);
  // The request log would cost terminal time, not service time.
  auto startService = [&](int port) {
    return std::make_unique<test::TProcess>(
        std::vector<std::string>{VORLEN_SERVICE_BINARY, "--port", std::to_string(port), "--root",
                                 root.string(), "--max-delivered", "1G", "--head-timeout", "5",
                                 "--stop-timeout", "10"},
        test::TProcessOptions{.Err = test::stFile, .ErrFile = "/dev/null"});
  };
  std::unique_ptr<test::TProcess> service = startService(0);
  const std::string url = test::ListeningUrl(*service);
  const int port = std::stoi(url.substr(url.rfind(':') + 1));
  std::mutex serviceLock;
  TRunResult result;
  TTally tally;
  std::atomic<bool> stop{false};

  const auto start = TClock::now();
  const auto deadline = start + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back(HonestClient, c, url, root, work, deadline, std::ref(tally));
  }
  std::vector<std::thread> attackers;
  if (attack) {
    if (attacks.On("slowloris")) {
      attackers.emplace_back(Slowloris, port, std::cref(stop), std::ref(tally));
    }
    for (int i = 0; i < 2 && attacks.On("flood"); ++i) {
      attackers.emplace_back(HeaderFlood, port, std::cref(stop), std::ref(tally));
    }
    if (attacks.On("huge")) attackers.emplace_back(HugeBodies, port, std::cref(stop), std::ref(tally));
    if (attacks.On("bombs")) attackers.emplace_back(XmlBombs, port, std::cref(stop), std::ref(tally));
    if (attacks.On("held")) attackers.emplace_back(HeldBodies, port, std::cref(stop), std::ref(tally));
    if (attacks.On("heads")) attackers.emplace_back(SlowHeads, port, std::cref(stop), std::ref(tally));
    for (int i = 0; i < 4 && attacks.On("churn"); ++i) {
      attackers.emplace_back(SessionChurn, port, 40 + i, std::cref(stop), std::ref(tally));
    }
    for (int i = 0; i < 8 && attacks.On("unzip"); ++i) {
      attackers.emplace_back(RepeatedUnZip, port, 50 + i, std::cref(archive), std::cref(stop),
                             std::ref(tally));
    }
  }
  // Memory and descriptors sampled throughout; one stop and start half way when attacked.
  bool restarted = !attack || !attacks.On("restart");
  TClock::time_point stoppedAt{}, listeningAt{};
  std::atomic<int> running{kClients};
  std::thread sampler([&] {
    while (TClock::now() < deadline || running > 0) {
      {
        std::lock_guard<std::mutex> guard(serviceLock);
        result.PeakKiB = std::max(result.PeakKiB, service->PeakResidentKiB());
        result.PeakDescriptors = std::max(result.PeakDescriptors, service->OpenDescriptors());
        result.PeakKiB = std::max(result.PeakKiB, ResidentKiB(service->Pid()));
        if (!restarted && TClock::now() > start + std::chrono::seconds(seconds) / 2) {
          const auto stopAt = TClock::now();
          result.StorageBytes += StorageBytes(service->Pid());
          service->Signal(SIGTERM);
          result.StopStatus = service->Wait();
          const auto startAt = TClock::now();
          service = startService(port);
          test::ListeningUrl(*service);
          result.StopSeconds = std::chrono::duration<double>(startAt - stopAt).count();
          listeningAt = TClock::now();
          stoppedAt = stopAt;
          result.RestartSeconds = std::chrono::duration<double>(listeningAt - startAt).count();
          restarted = true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  for (std::thread& thread : threads) {
    thread.join();
    --running;
  }
  result.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  stop = true;
  for (std::thread& thread : attackers) thread.join();
  sampler.join();
  // Back to rest: the memory once the last attacker is gone and a second has passed.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  result.FinalKiB = ResidentKiB(service->Pid());
  result.PeakKiB = std::max(result.PeakKiB, service->PeakResidentKiB());
  result.StorageBytes += StorageBytes(service->Pid());
  std::vector<double> times, calm;
  for (const auto& [begun, ended] : tally.Sends) {
    const double took = std::chrono::duration<double>(ended - begun).count();
    times.push_back(took);
    // Caught by the restart: under way at some moment the service was not listening.
    if (listeningAt != TClock::time_point{} && begun < listeningAt && ended > stoppedAt) {
      ++result.CaughtSends;
    } else {
      calm.push_back(took);
    }
  }
  result.MedianSeconds = Percentile(times, 50);
  result.P99Seconds = Percentile(times, 99);
  result.CalmP99Seconds = Percentile(calm, 99);
  result.Sent = tally.Sent;
  result.Identical = tally.Identical;
  result.Failed = tally.Failed;
  result.Bytes = tally.Bytes;
  result.Attacks = tally.Attacks;
  result.Reasons = tally.Reasons;
  service.reset();
  fs::remove_all(root);
  return result;
}

void Print(const char* what, const TRunResult& r) {
  std::printf(
      "%-17s %3d of %3d files delivered byte-identical (sender errors: %d), %7.1f MB in "
      "%5.1f s = %6.1f MB/s\n"
      "  honest sends: median %.2f s, 99th percentile %.2f s (%.2f s without the %d sends "
      "caught by the restart); service RSS peak %.1f MiB, at the end %.1f MiB; most open "
      "descriptors %d; written to storage %.1f MB = %.2f x delivered\n",
      what, r.Identical, r.Sent, r.Failed, static_cast<double>(r.Bytes) / 1e6, r.Seconds,
      static_cast<double>(r.Bytes) / 1e6 / r.Seconds, r.MedianSeconds, r.P99Seconds,
      r.CalmP99Seconds, r.CaughtSends,
      static_cast<double>(r.PeakKiB) / 1024, static_cast<double>(r.FinalKiB) / 1024,
      r.PeakDescriptors, static_cast<double>(r.StorageBytes) / 1e6,
      r.Bytes > 0 ? static_cast<double>(r.StorageBytes) / static_cast<double>(r.Bytes) : 0.0);
  for (const std::string& reason : r.Reasons) std::printf("  sender error: %s\n", reason.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const bool killsOnly = argc > 1 && std::string(argv[1]) == "--kills-only";
  const bool reclaimOnly = argc > 1 && std::string(argv[1]) == "--reclaim-only";
  const bool startOnly = reclaimOnly || (argc > 1 && std::string(argv[1]) == "--start-only");
  const int folders = startOnly && argc > 2 ? std::atoi(argv[2]) : 100000;
  const int total = argc > 1 && !killsOnly && !startOnly ? std::atoi(argv[1]) : 120;
  TAttacks attacks;
  if (argc > 3 && !killsOnly && !startOnly && std::string(argv[2]) == "--attacks") {
    attacks.Names = argv[3];
  }
  bool known = true;
  for (size_t at = 0; !attacks.Names.empty() && at <= attacks.Names.size();) {
    const size_t comma = std::min(attacks.Names.find(',', at), attacks.Names.size());
    const std::string name = attacks.Names.substr(at, comma - at);
    known = known && std::find(std::begin(kAttackNames), std::end(kAttackNames), name) !=
                         std::end(kAttackNames);
    at = comma + 1;
  }
  if (total < 6 || folders < 1 || !known) {
    std::fprintf(stderr,
                 "usage: bench_service_faults [SECONDS >= 6 [--attacks NAME,...] | --kills-only "
                 "| --start-only [FOLDERS] | --reclaim-only [SESSIONS]]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  const fs::path dir = fs::temp_directory_path() / Format("vorlen-fault-bench-%d", getpid());
  try {
    fs::create_directories(dir / "work");
    if (startOnly) {
      const int failed = reclaimOnly ? bench::RunReclaimBench(dir / "reclaim", folders)
                                     : bench::RunStartBench(dir / "start", folders);
      fs::remove_all(dir);
      return failed;
    }
    if (killsOnly) {
      const int lost = bench::RunKillBench(dir / "killed", 20);
      fs::remove_all(dir);
      return lost == 0 ? 0 : 1;
    }
    std::printf(
        "%d honest clients (vorlen-send, files of 16 KiB-1 MiB); %d s alone, then %d s with "
        "%s\n",
        kClients, total / 3, total - total / 3,
        attacks.Names.empty() ? "attackers and one restart" : attacks.Names.c_str());
    std::fflush(stdout);
    const std::string archive = BenchArchive(dir / "archive");
    const TRunResult alone = Run(dir / "alone", dir / "work", total / 3, false, archive);
    Print("without attackers", alone);
    std::fflush(stdout);
    const TRunResult attacked =
        Run(dir / "attacked", dir / "work", total - total / 3, true, archive, attacks);
    Print("with attackers", attacked);
    std::printf(
        "attack connections/requests: %lld; stop took %.2f s (exit status %d), start "
        "%.2f s; honest throughput under attack: %.0f%% of the run without\n",
        static_cast<long long>(attacked.Attacks), attacked.StopSeconds, attacked.StopStatus,
        attacked.RestartSeconds,
        100.0 * (static_cast<double>(attacked.Bytes) / attacked.Seconds) /
            (static_cast<double>(alone.Bytes) / alone.Seconds));
    std::fflush(stdout);
    if (attacks.Names.empty()) bench::RunKillBench(dir / "killed", 20);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_service_faults: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}
