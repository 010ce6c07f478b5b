// bench_post --sink: a loopback server that reads and discards every POST and answers it with
// a small SOAP response; prints its URL and serves until stdin ends.
// bench_post URL [MiB]: posts MiB (default 256) as bodies of 204,800 bytes through
// THTTPReqResp with the UploadFilePart action, one kept-alive connection, and prints MB/s and
// the peak memory of the process.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "PeakMemory.h"
#include "support/RawHttpServer.h"
#include "transport/HTTPReqResp.h"

using namespace vorlen;

namespace {

constexpr int64_t kPartSize = 204800;

int Sink() {
  test::TRawHttpServer server(
      test::Always(test::HttpResponse(200, "OK", "text/xml; charset=utf-8", "<ok/>")), false);
  std::printf("%s\n", server.URL("/FileUploader/Sender_Server.dll/soap/ISenderService").c_str());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {}
  std::printf("requests served: %d\n", server.RequestCount());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--sink") return Sink();
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_post --sink | bench_post URL [MiB]\n");
    return 2;
  }
  const int64_t total = (argc >= 3 ? std::atoll(argv[2]) : 256) * 1024 * 1024;
  THTTPReqResp node;
  node.SetEndpointURL(argv[1]);
  node.SetCurrentAction("urn:SenderServiceIntf-ISenderService#UploadFilePart");
  std::string body(kPartSize, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + 7);
  TMemoryStream request(body);
  TMemoryStream response;
  const auto start = std::chrono::steady_clock::now();
  int64_t sent = 0;
  while (sent < total) {
    response.SetSize(0);
    node.Exchange(request, response);
    sent += kPartSize;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("posted %lld bytes in %.2f s: %.1f MB/s, peak memory %.1f MiB\n",
              static_cast<long long>(sent), seconds, static_cast<double>(sent) / 1e6 / seconds,
              static_cast<double>(PeakMemoryBytes()) / (1024.0 * 1024.0));
  return 0;
}
