// Helpers shared by the SOAP message tests: fixed content ids, stream reading and tracked
// streams, beside the shared contract, scratch directory and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "mime/ContentId.h"
#include "soap/InvokableClassRegistry.h"
#include "soap/SenderServiceIntf.h"
#include "support/Contract.h"
#include "support/Files.h"
#include "support/ScratchDir.h"

namespace vorlen::test {

// What every envelope written here starts with: the declaration, its line end and the Envelope
// start tag with the four declarations in order.
inline constexpr char kEnvelopeOpen[] =
    "<?xml version=\"1.0\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">";

// Content ids taken in order from ids while the object lives; the random source comes back
// when it goes, also when the test fails half-way.
class TFixedContentIds {
 public:
  explicit TFixedContentIds(std::vector<std::string> ids) {
    auto next = std::make_shared<size_t>(0);
    SetContentIdSource([ids = std::move(ids), next] { return ids.at((*next)++); });
  }
  TFixedContentIds(const TFixedContentIds&) = delete;
  TFixedContentIds& operator=(const TFixedContentIds&) = delete;
  ~TFixedContentIds() { SetContentIdSource(nullptr); }
};

// Everything readable from the stream's current position.
inline std::string ReadAll(TStream& stream, int64_t chunk = 4096) {
  std::string result;
  std::string buffer(static_cast<size_t>(chunk), '\0');
  for (;;) {
    const int64_t n = stream.Read(buffer.data(), chunk);
    if (n <= 0) return result;
    result.append(buffer.data(), static_cast<size_t>(n));
  }
}

// A memory stream that reports its destruction.
class TTrackedStream : public TMemoryStream {
 public:
  TTrackedStream(std::string_view bytes, int& deletions)
      : TMemoryStream(bytes), FDeletions(deletions) {}
  ~TTrackedStream() override { ++FDeletions; }

 private:
  int& FDeletions;
};

}  // namespace vorlen::test
