// Any bytes as a multipart/related body: split into a root part and attachments whose cache
// files go to a private folder, or refused with an exception; no cache file outlives its entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "FuzzScratch.h"
#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "mime/MimeSplit.h"

namespace {

const std::filesystem::path& CacheDir() {
  static const vorlen::fuzz::TScratchDir dir("multipart");
  return dir.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlen;
  // The first line is the boundary (or a whole Content-Type value), the rest the body.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string boundary(input.substr(0, newline));
  const std::string_view body =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  {
    TMemoryStream source(body), root;
    TSoapDataList received;
    try {
      SplitMultipartMessage(source, root, boundary, received, CacheDir().string());
    } catch (const Exception&) {
    }
  }
  if (!std::filesystem::is_empty(CacheDir())) std::abort();  // a cache file was left behind
  return 0;
}
