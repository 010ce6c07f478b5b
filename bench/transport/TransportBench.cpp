// 1,000 UploadFilePart calls of 204,800-byte parts through THTTPRIO, beside the same 1,000
// POSTs of a pre-built body with bare libcurl on one kept-alive connection, against a loopback
// server that reads and discards each body. The paths take turns round by round in one run
// (a round is all calls of one path), so load from elsewhere on the machine falls on each
// alike; the figure is the median of the rounds' time ratios (goal: the proxy takes at most
// 1.15 times as long as bare libcurl). Also the transport alone with the pre-built body, and
// the client's resident memory.
#include <curl/curl.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "proxy/HTTPRIO.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/OPToSoapDomConvert.h"
#include "soap/SenderServiceIntf.h"
#include "support/RawHttpServer.h"

using namespace vorlen;

namespace {

// NCALLS=<n> calls per path and round (more shows that memory does not grow with them);
// NROUNDS=<n> rounds, each running every path kCalls times.
int EnvInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}
const int kCalls = EnvInt("NCALLS", 1000);
const int kRounds = EnvInt("NROUNDS", 11);
constexpr int kWarmUp = 20;
constexpr int kPartSize = 204800;

const std::string kAnswer =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
    "<NS1:UploadFilePartResponse xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
    "<return>true</return></NS1:UploadFilePartResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";

// Resident set now and at its peak, in KiB (Linux; 0 elsewhere).
void Memory(long& currentKiB, long& peakKiB) {
  currentKiB = peakKiB = 0;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) currentKiB = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) peakKiB = std::atol(line.c_str() + 6);
  }
}

// The processor, for the record next to the figures (Linux; empty elsewhere).
std::string CpuModel() {
  std::ifstream info("/proc/cpuinfo");
  std::string line;
  while (std::getline(info, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return std::string();
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// CPU time of the calling thread: what the client itself spends, apart from waiting for the
// server and the system.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The multipart body that the proxy sends for one part, built once.
std::string PrebuiltBody(const std::string& part) {
  RegisterSenderService();
  const TIntfMetaData& intf = *InvRegistry().GetInterfaceInfo(IID_ISenderService);
  TOPToSoapDomConvert converter;
  TSOAPAttachment attachment;
  TMemoryStream source(part);
  attachment.SetSourceStream(&source, TStreamOwnership::owReference);
  std::unique_ptr<TMemoryStream> envelope = converter.InvContextToMsg(
      intf, smUploadFilePart,
      {std::string("S"), std::string("part0"), std::string("CAFEBABE"), &attachment});
  TMimeAttachmentHandler handler;
  handler.CreateMimeStream(*envelope, converter.Attachments());
  handler.AddSoapHeader("Content-Type: text/xml; charset=\"utf-8\"");
  handler.AddSoapHeader("SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"");
  handler.FinalizeStream();
  TStream& body = handler.GetMIMEStream();
  std::string bytes(static_cast<size_t>(body.Size()), '\0');
  body.ReadBuffer(bytes.data(), body.Size());
  return bytes;
}

// One easy handle for the whole run: one kept-alive connection, like the transport's.
class TBarePoster {
 public:
  TBarePoster(const std::string& url, const std::string& body) : FCurl(curl_easy_init()) {
    for (const char* line :
         {"MIME-Version: 1.0",
          "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"",
          "Content-Type: multipart/related; boundary=MIME_boundaryB0R9532143182121",
          "Accept:", "Expect:"})
      FHeaders = curl_slist_append(FHeaders, line);
    curl_easy_setopt(FCurl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(FCurl, CURLOPT_HTTPHEADER, FHeaders);
    curl_easy_setopt(FCurl, CURLOPT_USERAGENT, "Vorlen Sender SOAP 1.2");
    curl_easy_setopt(FCurl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(FCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(FCurl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(FCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(FCurl, CURLOPT_WRITEFUNCTION, &Discard);
  }
  ~TBarePoster() {
    curl_slist_free_all(FHeaders);
    curl_easy_cleanup(FCurl);
  }

  double Post(int calls) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) {
      const CURLcode code = curl_easy_perform(FCurl);
      if (code != CURLE_OK) {
        std::fprintf(stderr, "bare POST failed: %s\n", curl_easy_strerror(code));
        std::exit(1);
      }
    }
    return Seconds(std::chrono::steady_clock::now() - start);
  }

 private:
  CURL* FCurl;
  curl_slist* FHeaders = nullptr;
};

// The transport alone: the same pre-built body through THTTPReqResp, without the SOAP layer.
double TransportCalls(THTTPReqResp& node, TMemoryStream& body, int calls) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    TMemoryStream response;
    node.Exchange(body, response);
  }
  return Seconds(std::chrono::steady_clock::now() - start);
}

double ProxyCalls(ISenderService& service, TSOAPAttachment& part, int calls) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    if (!service.UploadFilePart("S", "part" + std::to_string(i), "CAFEBABE", &part)) {
      std::fprintf(stderr, "the server refused part %d\n", i);
      std::exit(1);
    }
  }
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  test::TRawHttpServer server(
      [](const test::TRawRequest&) {
        return test::TRawReply{test::HttpResponse(200, "OK", "text/xml", kAnswer)};
      },
      /*record=*/false);
  const std::string url = server.URL("/FileUploader/Sender_Server.dll/soap/ISenderService");

  std::string partBytes(kPartSize, '\0');
  for (int i = 0; i < kPartSize; ++i) partBytes[static_cast<size_t>(i)] = static_cast<char>(i * 31);
  const std::string body = PrebuiltBody(partBytes);

  auto rio = std::make_shared<THTTPRIO>();
  ISenderServicePtr service = BindSenderService(false, url, rio);
  TMemoryStream partStream(partBytes);
  TSOAPAttachment part;
  part.SetSourceStream(&partStream, TStreamOwnership::owReference);

  THTTPReqResp node;
  node.SetEndpointURL(url);
  node.SetCurrentAction("urn:SenderServiceIntf-ISenderService#UploadFilePart");
  node.SetMimeBoundary(kMimeBoundary);
  {
    // Multipart headers for the transport-only path.
    TMimeAttachmentHandler handler;
    TMemoryStream envelope("<e/>");
    TSoapDataList none;
    handler.CreateMimeStream(envelope, none);
    RegisterSenderService();
    node.PrepareCall(*InvRegistry().GetInterfaceInfo(IID_ISenderService), smUploadFilePart,
                     &handler);
  }
  TMemoryStream bodyStream(body);

  long startKiB = 0, peakKiB = 0;
  auto bareClient = std::make_unique<TBarePoster>(url, body);
  bareClient->Post(kWarmUp);
  ProxyCalls(*service, part, kWarmUp);
  TransportCalls(node, bodyStream, kWarmUp);
  Memory(startKiB, peakKiB);

  // Round after round each path makes kCalls calls in one go, the paths taking turns and the
  // order turning from round to round (bare, proxy, transport; proxy, transport, bare; ...).
  std::vector<double> bare, proxy, transport, ratios;
  double bareCpu = 0, proxyCpu = 0, transportCpu = 0;
  long afterFirstRoundKiB = 0;
  for (int round = 0; round < kRounds; ++round) {
    // Fresh connections each round: a connection that the system happens to serve slowly
    // (it is seen now and then on a busy machine) then spoils one round, not the whole run.
    if (round > 0) {
      bareClient = std::make_unique<TBarePoster>(url, body);
      rio->HTTPWebNode().CloseConnection();
      node.CloseConnection();
    }
    double b = 0, p = 0, t = 0;
    for (int turn = 0; turn < 3; ++turn) {
      const double cpuBefore = ThreadCpuSeconds();
      switch ((round + turn) % 3) {
        case 0:
          b = bareClient->Post(kCalls);
          bareCpu += ThreadCpuSeconds() - cpuBefore;
          break;
        case 1:
          p = ProxyCalls(*service, part, kCalls);
          proxyCpu += ThreadCpuSeconds() - cpuBefore;
          break;
        default:
          t = TransportCalls(node, bodyStream, kCalls);
          transportCpu += ThreadCpuSeconds() - cpuBefore;
          break;
      }
    }
    bare.push_back(b);
    proxy.push_back(p);
    transport.push_back(t);
    ratios.push_back(p / b);
    std::printf("round %2d: bare %.3f s, THTTPRIO %.3f s, THTTPReqResp %.3f s, ratio %.3f\n",
                round + 1, b, p, t, p / b);
    if (round == 0) Memory(afterFirstRoundKiB, peakKiB);
  }
  long endKiB = 0;
  Memory(endKiB, peakKiB);

  const double megabytes = static_cast<double>(kCalls) * kPartSize / 1e6;
  const double bareMedian = Median(bare), proxyMedian = Median(proxy);
  const double transportMedian = Median(transport);
  std::printf("CPU: %s\n", CpuModel().c_str());
  std::printf("parts: %d x %d bytes per path and round (body %zu bytes), %d rounds\n", kCalls,
              kPartSize, body.size(), kRounds);
  std::printf("bare libcurl : median %.3f s, %.1f MB/s\n", bareMedian, megabytes / bareMedian);
  std::printf("THTTPRIO     : median %.3f s, %.1f MB/s\n", proxyMedian, megabytes / proxyMedian);
  std::printf(
      "THTTPReqResp : median %.3f s, %.1f MB/s (pre-built body, no SOAP layer; "
      "%.3f x bare)\n",
      transportMedian, megabytes / transportMedian, transportMedian / bareMedian);
  const double perCall = 1e6 / (static_cast<double>(kCalls) * kRounds);
  std::printf("client thread CPU per call: bare %.1f us, THTTPRIO %.1f us, THTTPReqResp %.1f us\n",
              bareCpu * perCall, proxyCpu * perCall, transportCpu * perCall);
  std::sort(ratios.begin(), ratios.end());
  std::printf(
      "ratio THTTPRIO / bare time: median of %d alternating rounds %.3f (goal <= 1.15; "
      "rounds from %.3f to %.3f)\n",
      kRounds, Median(ratios), ratios.front(), ratios.back());
  std::printf(
      "client RSS: after warm-up %ld KiB, after round 1 %ld KiB, at the end %ld KiB, "
      "peak %ld KiB (the process, loopback server included)\n",
      startKiB, afterFirstRoundKiB, endKiB, peakKiB);
  curl_global_cleanup();
  return 0;
}
