// Cost of building one UploadFilePart request (envelope, queuing, MIME section, finalising) and
// reading its body once, for a 204,800-byte part, and proof that the part is never copied into
// a heap block of its own size. Global operator new and libxml2's allocator are replaced to count
// what the call allocates. Beside it: reading the answer (one kept parser context against a
// fresh one each time) and drawing a content id.
#include <benchmark/benchmark.h>
#include <libxml/xmlmemory.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "mime/ContentId.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/OPToSoapDomConvert.h"
#include "soap/SenderServiceIntf.h"
#include "xml/XmlWriter.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long long> gAllocations{0};
std::atomic<long long> gBytes{0};
std::atomic<long long> gLargest{0};

void Count(std::size_t size) {
  if (!gCounting.load(std::memory_order_relaxed)) return;
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  gBytes.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
  long long largest = gLargest.load(std::memory_order_relaxed);
  while (static_cast<long long>(size) > largest &&
         !gLargest.compare_exchange_weak(largest, static_cast<long long>(size))) {}
}

void* Allocate(std::size_t size) {
  Count(size);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

// libxml2 allocates with malloc, not operator new: the envelope's document goes through these.
void* XmlMalloc(std::size_t size) {
  Count(size);
  return std::malloc(size);
}
void* XmlRealloc(void* block, std::size_t size) {
  Count(size);
  return std::realloc(block, size);
}
char* XmlStrdup(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  Count(size);
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}
void XmlFree(void* block) { std::free(block); }

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

constexpr int64_t kPartSize = 204800;
constexpr int64_t kSendBlock = 32768;  // the transport's block size

struct TCallStats {
  long long Allocations = 0;
  long long Bytes = 0;
  long long Largest = 0;
  int64_t BodySize = 0;
};
TCallStats gLastCall;

// Reads the body the way the transport sends it: in blocks, into a buffer it owns.
int64_t ReadBody(vorlen::TStream& body, std::vector<char>& block) {
  int64_t total = 0;
  for (;;) {
    const int64_t n = body.Read(block.data(), kSendBlock);
    if (n <= 0) return total;
    total += n;
  }
}

void BM_UploadFilePartRequest(benchmark::State& state) {
  using namespace vorlen;
  RegisterSenderService();
  const TIntfMetaData& intf = *InvRegistry().GetInterfaceInfo(IID_ISenderService);
  TMemoryStream partBuffer;
  partBuffer.SetSize(kPartSize);
  for (int64_t i = 0; i < kPartSize; ++i) partBuffer.Memory()[i] = static_cast<uint8_t>(i * 31);
  TSOAPAttachment attachment;
  TOPToSoapDomConvert conv;
  std::vector<char> block(kSendBlock);

  for (auto _ : state) {
    gAllocations = 0;
    gBytes = 0;
    gLargest = 0;
    gCounting = true;
    attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
    std::unique_ptr<TMemoryStream> envelope =
        conv.InvContextToMsg(intf, smUploadFilePart,
                             {std::string("S-1234567890"), std::string("vorarch.rar.17"),
                              std::string("1A2B3C4D"), &attachment});
    TMimeAttachmentHandler handler;
    handler.CreateMimeStream(*envelope, conv.Attachments());
    handler.AddSoapHeader("Content-Type: text/xml; charset=\"utf-8\"");
    handler.AddSoapHeader("SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"");
    handler.FinalizeStream();
    const int64_t bodySize = ReadBody(handler.GetMIMEStream(), block);
    conv.Attachments().clear();
    gCounting = false;
    benchmark::DoNotOptimize(bodySize);
    gLastCall = {gAllocations.load(), gBytes.load(), gLargest.load(), bodySize};
  }
  state.counters["allocs/call"] = static_cast<double>(gLastCall.Allocations);
  state.counters["heapB/call"] = static_cast<double>(gLastCall.Bytes);
  state.counters["largestB"] = static_cast<double>(gLastCall.Largest);
  state.counters["bodyB"] = static_cast<double>(gLastCall.BodySize);
  state.SetBytesProcessed(state.iterations() * gLastCall.BodySize);
}
BENCHMARK(BM_UploadFilePartRequest)->Unit(benchmark::kMicrosecond);

// The floor: reading the part's bytes once in transport-sized blocks.
void BM_ReadPartOnce(benchmark::State& state) {
  vorlen::TMemoryStream partBuffer;
  partBuffer.SetSize(kPartSize);
  std::vector<char> block(kSendBlock);
  for (auto _ : state) {
    partBuffer.SetPosition(0);
    benchmark::DoNotOptimize(ReadBody(partBuffer, block));
  }
  state.SetBytesProcessed(state.iterations() * kPartSize);
}
BENCHMARK(BM_ReadPartOnce)->Unit(benchmark::kMicrosecond);

// Reading the service's answer to UploadFilePart: the converter keeps one parser context for
// all its calls; a fresh context for every answer is the comparison.
const std::string kUploadAnswer =
    "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
    "<NS1:UploadFilePartResponse xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">"
    "<return>true</return></NS1:UploadFilePartResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";

void BM_ProcessResponse(benchmark::State& state) {
  using namespace vorlen;
  RegisterSenderService();
  const TIntfMetaData& intf = *InvRegistry().GetInterfaceInfo(IID_ISenderService);
  TOPToSoapDomConvert conv;
  TMemoryStream answer(kUploadAnswer);
  for (auto _ : state) {
    answer.SetPosition(0);
    if (!std::get<bool>(conv.ProcessResponse(answer, intf, smUploadFilePart)))
      state.SkipWithError("answer read as false");
  }
}
BENCHMARK(BM_ProcessResponse)->Unit(benchmark::kMicrosecond);

void BM_ParseAnswerFreshContext(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vorlen::ParseXml(kUploadAnswer));
}
BENCHMARK(BM_ParseAnswerFreshContext)->Unit(benchmark::kMicrosecond);

void BM_ParseAnswerReusedContext(benchmark::State& state) {
  vorlen::TXmlParser parser;
  for (auto _ : state) benchmark::DoNotOptimize(parser.Parse(kUploadAnswer));
}
BENCHMARK(BM_ParseAnswerReusedContext)->Unit(benchmark::kMicrosecond);

void BM_NewContentId(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vorlen::NewContentId());
}
BENCHMARK(BM_NewContentId);

// The service side: splitting an 8 MiB multipart request into its root part and one cached
// attachment, as the reference service does for every upload.
void BM_SplitRequest(benchmark::State& state) {
  using namespace vorlen;
  const int64_t partSize = state.range(0);
  const std::string boundary = "MIME_boundaryB0R9532143182121";
  const std::string envelope(700, 'e');
  std::string message =
      "\r\n--" + boundary +
      "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(envelope.size()) +
      "\r\n\r\n" + envelope + "\r\n\r\n--" + boundary +
      "\r\nContent-ID: <id>\r\nContent-Length: " + std::to_string(partSize) + "\r\n\r\n";
  message += std::string(static_cast<size_t>(partSize), '\x5A');
  message += "\r\n--" + boundary + "--";
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vorlen-soap-bench";
  std::filesystem::create_directories(dir);
  TMemoryStream source(message);
  for (auto _ : state) {
    source.SetPosition(0);
    TMemoryStream root;
    TSoapDataList received;
    TMimeAttachmentHandler().ProcessMultiPartForm(
        source, root, "multipart/related; boundary=" + boundary, received, dir.string());
    if (received.size() != 1 || root.Size() != 700) state.SkipWithError("split went wrong");
  }
  std::filesystem::remove_all(dir);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(message.size()));
}
BENCHMARK(BM_SplitRequest)->Arg(204800)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Before libxml2 allocates anything, so every block it frees came from these.
  xmlMemSetup(XmlFree, XmlMalloc, XmlRealloc, XmlStrdup);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf(
      "last call: %lld allocations, %lld heap bytes, largest block %lld bytes, body %lld bytes\n",
      gLastCall.Allocations, gLastCall.Bytes, gLastCall.Largest,
      static_cast<long long>(gLastCall.BodySize));
  const bool copied = gLastCall.Largest >= kPartSize;
  std::printf("part of %lld bytes copied into a heap block of its size: %s\n",
              static_cast<long long>(kPartSize), copied ? "YES" : "no");
  return copied ? 2 : 0;
}
