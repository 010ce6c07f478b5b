// Seekable byte streams: the one stream type that checksums, the archive, the SOAP layer and the
// transport work on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

enum class TSeekOrigin { skBeginning, skCurrent, skEnd };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  // Sets the size; streams that cannot be resized raise EStreamError.
  virtual void SetSize(int64_t size);

  int64_t Position() { return Seek(0, TSeekOrigin::skCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::skBeginning); }

  // Exactly count bytes or EStreamError "Stream read error" / "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's current position; count 0 copies the whole source from
  // its start. Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  // The position that Seek(offset, origin) names for a stream now at current; raises
  // EStreamError "Invalid stream position" before the start.
  int64_t SeekTarget(int64_t offset, TSeekOrigin origin, int64_t current);
};

// A growable stream in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t size) override;

  void Clear();
  const uint8_t* Memory() const { return FData.data(); }
  uint8_t* Memory() { return FData.data(); }
  std::string ToString() const { return std::string(FData.begin(), FData.end()); }
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// A file on disk, closed with the stream. Sharing modes are honoured where the platform has them.
class TFileStream : public TStream {
 public:
  enum TMode {
    fmCreate,         // create or truncate, read and write
    fmCreateNew,      // create a file that must not exist yet, read and write
    fmOpenRead,       // existing file, read only
    fmOpenWrite,      // existing file, write only
    fmOpenReadWrite,  // existing file, read and write
  };
  // Raises EFOpenError / EFCreateError with a message that names the file.
  TFileStream(const std::string& fileName, TMode mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
  std::intptr_t FHandle = -1;  // a file descriptor, or a Windows HANDLE
};

}  // namespace vorlen
