// Sustained upload throughput of vorlen-service over loopback through the client's own proxy:
// one client sending a whole file in 204,800-byte parts, then four clients sending the same parts
// between them at once. The service runs as a child process, so its peak resident memory
// (VmHWM) can be read; it is measured for a small and a large file to show that it does not grow
// with the file size.
//
// Usage: bench_service [SIZE_MIB [SMALL_MIB]]   (defaults 256 and 32)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "checksum/Checksum.h"
#include "proxy/HTTPRIO.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "mime/SOAPAttachment.h"
#include "support/Process.h"

namespace fs = std::filesystem;
using namespace vorlen;

namespace {

constexpr int64_t kPartSize = 204800;

// Part i of the file: bytes that differ from part to part, made on the fly eight at a time, so
// that making them costs the client little beside what the service is measured on.
void FillPart(std::string& part, int64_t index, int64_t length) {
  part.resize(static_cast<size_t>(length));
  uint64_t state = static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ull + 1;
  for (size_t at = 0; at < part.size(); at += sizeof state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(part.data() + at, &state, std::min(sizeof state, part.size() - at));
  }
}

std::string Hash(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(bytes.data(), static_cast<uint32_t>(bytes.size()), crc);
  return Format("%.8X", ~crc);
}

// Uploads parts first, first + step, ... of a file of size bytes; returns the bytes sent.
int64_t UploadParts(const std::string& url, const std::string& sess, int64_t size, int first,
                    int step) {
  ISenderServicePtr proxy = BindSenderService(false, url, nullptr);
  const int64_t last = size / kPartSize;
  std::string part;
  TSOAPAttachment attachment;
  int64_t sent = 0;
  for (int64_t i = first; i <= last; i += step) {
    FillPart(part, i, std::min(kPartSize, size - i * kPartSize));
    TMemoryStream stream(part);
    attachment.SetSourceStream(&stream, TStreamOwnership::owReference);
    if (!proxy->UploadFilePart(sess, Format("bench._%.3d", static_cast<int>(i)), Hash(part),
                               &attachment)) {
      throw Exception(Format("part %d was refused", static_cast<int>(i)));
    }
    attachment.ReleaseSourceStream();
    sent += static_cast<int64_t>(part.size());
  }
  return sent;
}

double Run(const std::string& url, int64_t size, int clients) {
  ISenderServicePtr proxy = BindSenderService(false, url, nullptr);
  const std::string sess = proxy->GetSession();
  std::atomic<int64_t> sent{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] { sent += UploadParts(url, sess, size, c, clients); });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!proxy->MergeFile(static_cast<int32_t>(size / kPartSize), "bench.bin", sess)) {
    throw Exception("the merge failed");
  }
  proxy->DelTempFiles(sess);
  return static_cast<double>(sent) / 1e6 / seconds;
}

void Measure(int64_t mib, const fs::path& root) {
  const int64_t size = mib << 20;
  // The request log would cost terminal time, not service time.
  test::TProcess service({VORLEN_SERVICE_BINARY, "--port", "0", "--root", root.string(),
                          "--max-delivered", "8G", "--max-parts", "100000"},
                         {.Err = test::stFile, .ErrFile = "/dev/null"});
  const std::string url = test::ListeningUrl(service);
  const double single = Run(url, size, 1);
  const double four = Run(url, size, 4);
  std::printf(
      "file %4lld MiB: 1 client %7.1f MB/s, 4 clients %7.1f MB/s, service peak RSS "
      "%6.1f MiB\n",
      static_cast<long long>(mib), single, four, service.PeakResidentKiB() / 1024.0);
  std::fflush(stdout);
  fs::remove_all(root);
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t large = argc > 1 ? std::atoll(argv[1]) : 256;
  const int64_t small = argc > 2 ? std::atoll(argv[2]) : 32;
  const fs::path root = fs::temp_directory_path() / Format("bench_service-%d", getpid());
  try {
    std::printf("parts of %lld bytes over loopback, written to disk under %s\n",
                static_cast<long long>(kPartSize), root.c_str());
    Measure(small, root / "small");
    Measure(large, root / "large");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_service: %s\n", e.what());
    fs::remove_all(root);
    return 1;
  }
  fs::remove_all(root);
  return 0;
}
