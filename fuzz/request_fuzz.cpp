// Any bytes as one request to the SOAP address: the first line is the Content-Type, the second
// the SOAPAction, the rest the body; "@S@" in the body stands for a session that exists, so
// that inputs reach the operations. The endpoint must answer every input, never throw.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzScratch.h"
#include "runtime/Stream.h"
#include "server/SenderServer.h"
#include "server/SoapEndpoint.h"

namespace {

struct TFixture {
  vorlen::fuzz::TScratchDir Scratch{"request"};  // first made, last gone
  std::filesystem::path Root = Scratch.Path();
  std::unique_ptr<vorlen::TSenderServer> Server;
  std::unique_ptr<vorlen::TSoapEndpoint> Endpoint;
  std::string Session;
};

TFixture& Fixture() {
  static TFixture fixture;
  static const bool ready = [] {
    vorlen::TServiceLimits limits;
    limits.MaxDelivered = 1 << 20;
    limits.MaxRootBytes = 64 << 20;
    limits.MinFreeBytes = 0;
    fixture.Server = std::make_unique<vorlen::TSenderServer>(fixture.Root / "inbox", limits);
    fixture.Endpoint = std::make_unique<vorlen::TSoapEndpoint>(*fixture.Server);
    fixture.Session = fixture.Server->GetSession();
    return true;
  }();
  (void)ready;
  return fixture;
}

std::string Line(std::string_view& input) {
  const size_t newline = input.find('\n');
  const std::string line(input.substr(0, newline));
  input = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlen;
  TFixture& fixture = Fixture();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string contentType = Line(input);
  const std::string action = Line(input);
  std::string body(input);
  for (size_t at; (at = body.find("@S@")) != std::string::npos;) {
    body.replace(at, 3, fixture.Session);
  }
  TMemoryStream stream(body);
  const TSoapReply reply = fixture.Endpoint->Handle(contentType, action, stream, "127.0.0.1");
  if (reply.Body.empty() || reply.ContentType.empty()) std::abort();
  return 0;
}
