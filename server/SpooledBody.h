// A request body as it arrives: in memory while small (every envelope is), in an unnamed
// temporary file beyond that, so that bodies held open by slow senders cost disk, not memory;
// the file's bytes count against the service's disk budget until the body is dropped.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/Stream.h"
#include "server/BudgetHold.h"

namespace vorlen {

class TSpooledBody : public TStream {
 public:
  // Bytes held in memory before the body moves to a file in folder (which must exist).
  static constexpr int64_t kInMemory = 64 * 1024;

  // budget (may be null) is charged with the bytes on disk.
  explicit TSpooledBody(std::string folder, TDiskBudget* budget = nullptr);
  ~TSpooledBody() override;

  int64_t Read(void* buffer, int64_t count) override;
  // Appends at the position; raises EStreamError when the temporary file cannot be written,
  // EDiskFull for a full disk, EStorageLimit when the budget has no room for it.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }

  bool Spooled() const { return FFile >= 0; }
  // The content while it is held in memory; empty once spooled.
  std::string InMemory() const { return FFile >= 0 ? std::string() : FMemory.ToString(); }
  // Drops the content (and the file).
  void Clear();

 private:
  // Raises for the failed call that set errno: EDiskFull for a full disk, else EStreamError.
  [[noreturn]] static void Fail(const std::string& what);
  void MoveToFile();

  std::string FFolder;
  TMemoryStream FMemory;
  int FFile = -1;  // the unnamed file once spooled
  TBudgetHold FHold;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

}  // namespace vorlen
