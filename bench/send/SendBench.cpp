// bench_send [MiB [TRANSPORT_MBS]]: uploads a file of MiB mebibytes (default 1024) with
// vorlen-send to a local vorlen-service, then sends the same file as bare libcurl POSTs of the
// same UploadFilePart bodies to the same service (which checks and stores them just the same).
// Prints the throughput of the whole send and of the part upload alone, the sender's peak
// resident memory, and the ratios to the bare figure and to the transport benchmark's bare
// libcurl figure against a server that discards the bodies (TRANSPORT_MBS, else measured by
// running bench_transport).
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/Envelope.h"
#include "support/Process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr long long kPart = 204800;
const std::string kBoundary = "MIME_boundaryB0R9532143182121";
const std::string kAction = "urn:SenderServiceIntf-ISenderService#";

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

[[noreturn]] void Die(const std::string& text) {
  std::fprintf(stderr, "bench_send: %s\n", text.c_str());
  std::exit(1);
}

uLong FileCrc(const fs::path& path, long long& size) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  uLong crc = crc32(0L, Z_NULL, 0);
  size = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(in.gcount()));
    size += in.gcount();
  }
  return crc;
}

// The delivered file of the session whose delivery folder holds name, removed after the check
// so that the next run starts from the same disk state.
bool DeliveredIntact(const fs::path& root, const std::string& sess, const std::string& name,
                     uLong sourceCrc, long long sourceSize) {
  const fs::path delivered = root / sess / "delivered" / name;
  long long size = -1;
  const bool same =
      fs::exists(delivered) && FileCrc(delivered, size) == sourceCrc && size == sourceSize;
  std::error_code ignored;
  fs::remove(delivered, ignored);
  sync();
  return same;
}

// --- The bare client: hand-made RPC/encoded requests over one kept-alive libcurl handle. ---

using vorlen::test::Envelope;
using vorlen::test::Str;
using vorlen::test::TProcess;

size_t Collect(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

class TBareClient {
 public:
  explicit TBareClient(const std::string& url) : FCurl(curl_easy_init()) {
    if (FCurl == nullptr) Die("curl_easy_init failed");
    curl_easy_setopt(FCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(FCurl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(FCurl, CURLOPT_WRITEDATA, &FAnswer);
    curl_easy_setopt(FCurl, CURLOPT_NOPROXY, "*");
  }
  ~TBareClient() { curl_easy_cleanup(FCurl); }

  // The text of the <return> element of the answer.
  std::string Call(const std::string& operation, const std::string& contentType,
                   const std::string& body) {
    curl_slist* headers = curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str());
    headers = curl_slist_append(headers, ("SOAPAction: \"" + kAction + operation + "\"").c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(FCurl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(FCurl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(FCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    FAnswer.clear();
    const CURLcode code = curl_easy_perform(FCurl);
    curl_slist_free_all(headers);
    long status = 0;
    curl_easy_getinfo(FCurl, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK || status != 200) {
      Die(operation + " failed: " + curl_easy_strerror(code) + " " + FAnswer.substr(0, 300));
    }
    const size_t open = FAnswer.find("<return");
    const size_t start = open == std::string::npos ? open : FAnswer.find('>', open);
    const size_t end = FAnswer.find("</return>");
    if (start == std::string::npos || end == std::string::npos) Die("no result: " + FAnswer);
    return FAnswer.substr(start + 1, end - start - 1);
  }

 private:
  CURL* FCurl;
  std::string FAnswer;
};

struct TBareFigures {
  double PartSeconds = 0;
  double WholeSeconds = 0;
  std::string Session;
};

// The same work as vorlen-send: a session, every part read from the file and sent with its
// CRC-32, the merge and the clean-up.
TBareFigures BareSend(const std::string& url, const fs::path& file, long long size) {
  TBareClient client(url);
  TBareFigures figures;
  const auto start = Clock::now();
  figures.Session =
      client.Call("GetSession", "text/xml; charset=\"utf-8\"", Envelope("GetSession", ""));
  const int input = open(file.c_str(), O_RDONLY);
  if (input < 0) Die("cannot open " + file.string());
  const long long last = size / kPart;
  std::vector<char> part(kPart);
  std::string body;
  char name[32];
  for (long long i = 0; i <= last; ++i) {
    const ssize_t length = pread(input, part.data(), kPart, i * kPart);
    if (length < 0) Die("cannot read " + file.string());
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lX",
                  crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(part.data()),
                        static_cast<uInt>(length)));
    std::snprintf(name, sizeof name, "big._%.3lld", i);
    const std::string envelope = Envelope(
        "UploadFilePart", Str("Sess", figures.Session) + Str("PartName", name) + Str("Hash", hash) +
                              "<FilePart href=\"cid:6F9619FF-8B86-D011-B42D-00C04FC964FF\"/>");
    body = "\r\n--" + kBoundary +
           "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"
           "SOAPAction: \"" +
           kAction +
           "UploadFilePart\"\r\n"
           "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
           "Content-Location: http://tempuri.org/rootpart.xml\r\n"
           "Content-Length: " +
           std::to_string(envelope.size()) + "\r\n\r\n" + envelope + "\r\n\r\n--" + kBoundary +
           "\r\nContent-ID: <6F9619FF-8B86-D011-B42D-00C04FC964FF>\r\n"
           "Content-Length: " +
           std::to_string(length) +
           "\r\n"
           "Content-Type: application/binary\r\n\r\n";
    body.append(part.data(), static_cast<size_t>(length));
    body += "\r\n--" + kBoundary + "--";
    if (client.Call("UploadFilePart", "multipart/related; boundary=" + kBoundary, body) != "true") {
      Die(std::string("the service refused bare part ") + name);
    }
  }
  close(input);
  const auto partsDone = Clock::now();
  const std::string merged = client.Call(
      "MergeFile", "text/xml; charset=\"utf-8\"",
      Envelope("MergeFile", "<Parts xsi:type=\"xsd:int\">" + std::to_string(last) + "</Parts>" +
                                Str("FileName", "big.bin") + Str("Sess", figures.Session)));
  if (merged != "true") Die("the bare merge failed");
  client.Call("DelTempFiles", "text/xml; charset=\"utf-8\"",
              Envelope("DelTempFiles", Str("Sess", figures.Session)));
  const auto end = Clock::now();
  figures.PartSeconds = Seconds(start, partsDone);
  figures.WholeSeconds = Seconds(start, end);
  return figures;
}

// --- vorlen-send, timed from its status lines. ---

struct TSendFigures {
  bool Ok = false;
  double PartSeconds = 0;  // from start to the first status line after the parts (the merge)
  double WholeSeconds = 0;
  double PeakMiB = 0;
  std::string Session;
};

TSendFigures RunSender(const std::string& url, const fs::path& file, const fs::path& log) {
  TSendFigures figures;
  const auto start = Clock::now();
  TProcess sender({VORLEN_SEND_BINARY, "--url", url, "--org", "Bench", file.string()},
                  {.Out = vorlen::test::stInherit});
  // Without a terminal the sender writes one line per 10 % and its captions; the first line
  // after "100 %" is the caption shown while the service merges.
  std::ofstream out(log, std::ios::binary);
  bool partsEnded = false;
  Clock::time_point partsDone{};
  for (std::string line; sender.ErrLine(line, -1);) {
    const auto now = Clock::now();
    out << Seconds(start, now) << " " << line << "\n";
    if (partsEnded && partsDone == Clock::time_point{}) partsDone = now;
    if (line.find("100 %") != std::string::npos) partsEnded = true;
    const size_t at = line.find("Сесия ");
    if (figures.Session.empty() && at != std::string::npos) {
      figures.Session = line.substr(at + std::string("Сесия ").size(), 32);
    }
  }
  figures.Ok = sender.Wait() == 0;
  figures.WholeSeconds = Seconds(start, Clock::now());
  figures.PartSeconds = partsDone == Clock::time_point{} ? 0 : Seconds(start, partsDone);
  figures.PeakMiB = static_cast<double>(sender.PeakResidentKiB()) / 1024.0;
  return figures;
}

// The transport benchmark's bare libcurl figure (a server that discards the bodies).
double TransportFigure() {
  TProcess bench({VORLEN_TRANSPORT_BENCH}, {.Err = vorlen::test::stFile, .ErrFile = "/dev/null"});
  double mbs = 0;
  for (std::string line; bench.OutLine(line, -1);) {
    const size_t at = line.find("bare libcurl : median");
    if (at == std::string::npos) continue;
    const size_t comma = line.find(", ", at);
    if (comma != std::string::npos) mbs = std::atof(line.c_str() + comma + 2);
  }
  bench.Wait();
  return mbs;
}

}  // namespace

int main(int argc, char** argv) {
  const long long mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  double transportMbs = argc > 2 ? std::atof(argv[2]) : 0;
  if (mib <= 0) Die("usage: bench_send [MiB [TRANSPORT_MBS]]");
  const long long size = mib << 20;
  const fs::path dir =
      fs::temp_directory_path() / ("vorlen-send-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path file = dir / "big.bin";
  const fs::path root = dir / "root";
  curl_global_init(CURL_GLOBAL_DEFAULT);

  {  // Pseudo-random content, so that nothing compresses or repeats by accident.
    std::ofstream out(file, std::ios::binary);
    std::vector<uint32_t> block((1 << 20) / 4);
    uint32_t x = 12345;
    for (long long done = 0; done < size; done += 1 << 20) {
      for (uint32_t& v : block) v = x = x * 1664525u + 1013904223u;
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(std::min<long long>(1 << 20, size - done)));
    }
  }
  long long sourceSize = 0;
  const uLong sourceCrc = FileCrc(file, sourceSize);
  sync();

  TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.string(),
                    "--max-delivered", "64G", "--max-parts", "1000000"},
                   {.Err = vorlen::test::stFile, .ErrFile = (dir / "service.log").string()});
  std::string url;
  try {
    url = vorlen::test::ListeningUrl(service);
  } catch (const std::exception& error) {
    Die(error.what());
  }

  const TSendFigures send = RunSender(url, file, dir / "send.log");
  const bool sendSame =
      send.Ok && DeliveredIntact(root, send.Session, "big.bin", sourceCrc, sourceSize);
  const TBareFigures bare = BareSend(url, file, size);
  const bool bareSame = DeliveredIntact(root, bare.Session, "big.bin", sourceCrc, sourceSize);

  service.Signal(SIGTERM);
  service.Wait();
  if (transportMbs <= 0) transportMbs = TransportFigure();

  const double mb = static_cast<double>(size) / 1e6;
  const double sendParts = send.PartSeconds > 0 ? mb / send.PartSeconds : 0;
  std::printf("file                 %lld MiB (%lld parts of %lld bytes)\n", mib, size / kPart + 1,
              kPart);
  std::printf("vorlen-send          %s, delivered %s, peak RSS %.1f MiB (goal < 40)\n",
              send.Ok ? "exit 0" : "FAILED", sendSame ? "identical" : "DIFFERENT", send.PeakMiB);
  std::printf("  whole send         %.2f s, %.1f MB/s (session, parts, details, merge, clean-up)\n",
              send.WholeSeconds, mb / send.WholeSeconds);
  std::printf("  parts alone        %.2f s, %.1f MB/s\n", send.PartSeconds, sendParts);
  std::printf("bare libcurl, same requests to the same service (stored), delivered %s\n",
              bareSame ? "identical" : "DIFFERENT");
  std::printf("  whole send         %.2f s, %.1f MB/s\n", bare.WholeSeconds,
              mb / bare.WholeSeconds);
  std::printf("  parts alone        %.2f s, %.1f MB/s\n", bare.PartSeconds, mb / bare.PartSeconds);
  std::printf("ratio to bare, same service: whole %.0f %%, parts %.0f %%\n",
              100.0 * bare.WholeSeconds / send.WholeSeconds,
              send.PartSeconds > 0 ? 100.0 * bare.PartSeconds / send.PartSeconds : 0.0);
  if (transportMbs > 0) {
    std::printf(
        "transport bench bare libcurl to a discarding server: %.1f MB/s; vorlen-send "
        "whole %.0f %%, parts %.0f %% of it (goal >= 80 %%)\n",
        transportMbs, 100.0 * mb / send.WholeSeconds / transportMbs,
        100.0 * sendParts / transportMbs);
  } else {
    std::printf("transport bench figure not available\n");
  }

  std::error_code ignored;
  fs::remove_all(dir, ignored);
  curl_global_cleanup();
  return send.Ok && sendSame && bareSame ? 0 : 1;
}
