// 1,000 UploadFilePart calls of 204,800-byte parts through THTTPRIO, beside the same 1,000
// POSTs of a pre-built body with bare libcurl on one kept-alive connection, against a loopback
// server that reads and discards each body. Prints both throughputs, their ratio (goal: the
// proxy takes at most 1.2 times as long) and the client's resident memory.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "soap/MimeAttachmentHandler.h"
#include "soap/OPToSoapDomConv.h"
#include "soap/SenderServiceIntf.h"
#include "transport/HTTPRIO.h"
#include "transport/RawHttpServer.h"

using namespace vorlen;

namespace {

// NCALLS=<n> runs more calls, to see that memory does not grow with them.
static const int kCalls = std::getenv("NCALLS") ? std::atoi(std::getenv("NCALLS")) : 1000;
constexpr int kWarmUp = 20;
constexpr int kRounds = 10;  // of kCalls / kRounds calls per path
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

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// The multipart body that the proxy sends for one part, built once.
std::string PrebuiltBody(const std::string& part) {
  RegisterSenderService();
  const TIntfMetaData& intf = *InvRegistry().GetInterfaceInfo(IID_ISenderService);
  TOPToSoapDomConvert converter;
  TSOAPAttachment attachment;
  TMemoryStream source(part);
  attachment.SetSourceStream(&source, TStreamOwnership::soReference);
  std::unique_ptr<TMemoryStream> envelope = converter.InvContextToMsg(
      intf, smUploadFilePart, {std::string("S"), std::string("part0"), std::string("CAFEBABE"),
                               &attachment});
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
          "Content-Type: multipart/related; boundary=MIME_boundaryB0R9532143182121", "Accept:",
          "Expect:"})
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

double ProxyCalls(ISenderService& service, TSOAPAttachment& part, int calls, int checkpoint,
                  long& rssAtCheckpointKiB) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    if (!service.UploadFilePart("S", "part" + std::to_string(i), "CAFEBABE", &part)) {
      std::fprintf(stderr, "the server refused part %d\n", i);
      std::exit(1);
    }
    if (i + 1 == checkpoint) {
      long peak;
      Memory(rssAtCheckpointKiB, peak);
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

  ISenderServicePtr service = BindSenderService(false, url);
  TMemoryStream partStream(partBytes);
  TSOAPAttachment part;
  part.SetSourceStream(&partStream, TStreamOwnership::soReference);

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

  long ignored = 0, startKiB = 0, peakKiB = 0;
  TBarePoster bareClient(url, body);
  bareClient.Post(kWarmUp);
  ProxyCalls(*service, part, kWarmUp, 0, ignored);
  TransportCalls(node, bodyStream, kWarmUp);
  Memory(startKiB, peakKiB);

  // Interleaved rounds in alternating order, so that load from elsewhere on the machine and
  // any order effect fall on both paths alike.
  double bare = 0, proxy = 0, transport = 0;
  std::vector<double> ratios;
  long after100KiB = 0, ignoredRss = 0;
  const int perRound = kCalls / kRounds;
  for (int round = 0; round < kRounds; ++round) {
    double b = 0, p = 0;
    if (round % 2 == 0) b = bareClient.Post(perRound);
    p = ProxyCalls(*service, part, perRound, round == 0 ? perRound : 0,
                   round == 0 ? after100KiB : ignoredRss);
    if (round % 2 == 1) b = bareClient.Post(perRound);
    transport += TransportCalls(node, bodyStream, perRound);
    bare += b;
    proxy += p;
    ratios.push_back(p / b);
  }
  std::sort(ratios.begin(), ratios.end());
  const double medianRatio = (ratios[kRounds / 2 - 1] + ratios[kRounds / 2]) / 2;
  long endKiB = 0;
  Memory(endKiB, peakKiB);

  const double megabytes = static_cast<double>(kCalls) * kPartSize / 1e6;
  std::printf("parts: %d x %d bytes (body %zu bytes)\n", kCalls, kPartSize, body.size());
  std::printf("bare libcurl : %.3f s, %.1f MB/s\n", bare, megabytes / bare);
  std::printf("THTTPRIO     : %.3f s, %.1f MB/s\n", proxy, megabytes / proxy);
  std::printf("THTTPReqResp : %.3f s, %.1f MB/s (pre-built body, no SOAP layer; ratio %.3f)\n",
              transport, megabytes / transport, transport / bare);
  std::printf("ratio proxy/bare time: %.3f overall, %.3f median of %d rounds (goal <= 1.2)\n",
              proxy / bare, medianRatio, kRounds);
  std::printf("RSS: after warm-up %ld KiB, after the first 100 proxy calls %ld KiB, after %d %ld KiB, "
              "peak %ld KiB (process incl. loopback server)\n",
              startKiB, after100KiB, kCalls, endKiB, peakKiB);
  curl_global_cleanup();
  return 0;
}
