// A compressing writer that deflates on several threads and still makes one ordinary zlib stream
// (RFC 1950), byte for byte the same whatever the number of threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/Stream.h"

namespace vorlen {

// The input is cut into blocks of kBlockSize bytes. Each block is deflated on its own, primed
// with the 32 KiB before it as dictionary and ended on a byte boundary (a sync flush, the last
// block a finish), so the blocks join into one deflate stream; the zlib header comes first and
// the Adler-32 of the whole input, combined from the blocks' values, last. An input of at most one
// block goes through TZCompressionStream instead and gives exactly its bytes.
//
// Output goes to Dest in order, in 65,536-byte pieces; OnProgress follows each full piece but the
// stream's last, as with TZCompressionStream. Position() counts the input bytes whose compressed
// form has gone to Dest (in proportion within a block); after Finish, all of them. Memory stays
// at a few blocks per thread whatever the input's size.
class TParallelCompressionStream : public TStream {
 public:
  static constexpr int64_t kBlockSize = 131072;
  static constexpr int64_t kDictionarySize = 32768;

  // Level is a zlib level (-1, 0..9). Threads 0 means one per core; 1 compresses on the
  // caller's thread.
  TParallelCompressionStream(TStream& Dest, int Level, int Threads);
  // Stops the workers; an unfinished stream is discarded.
  ~TParallelCompressionStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // Only reports the position; the stream cannot move.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

  // Ends the stream and writes the rest of it to Dest. Writing afterwards is an error.
  void Finish();

  // The threads a request for Threads gives: 0 is the machine's core count.
  static int ThreadCount(int Threads);

  std::function<void(TStream& Sender)> OnProgress;

 private:
  struct TBlock;

  // Hands the current block to the workers (or compresses it here with one thread).
  void Submit(bool last);
  // Writes out finished blocks at the front; with wait, waits for the front one first.
  void WriteDone(bool wait);
  // Hands count output bytes on, which stand for inputLength input bytes.
  void Put(const uint8_t* bytes, int64_t count, int64_t inputLength);
  void Work();
  void StopWorkers();

  TStream& FDest;
  const int FLevel;
  const int FThreads;
  std::vector<uint8_t> FCurrent;     // input of the block being filled
  std::vector<uint8_t> FDictionary;  // the last 32 KiB before FCurrent
  int64_t FConsumed = 0;             // written in
  int64_t FHandedOn = 0;             // gone to Dest in compressed form
  bool FStarted = false;             // the header is out: more than one block
  bool FFinished = false;
  uint32_t FAdler = 1;
  std::vector<uint8_t> FOut;  // output collected for Dest

  std::deque<std::shared_ptr<TBlock>> FInOrder;  // submitted, not yet written out
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::shared_ptr<TBlock>> FQueue;  // guarded by FLock: waiting for a worker
  bool FStopping = false;                      // guarded by FLock
  std::vector<std::thread> FWorkers;
};

}  // namespace vorlen
