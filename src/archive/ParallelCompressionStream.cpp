#include "archive/ParallelCompressionStream.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <string>

#include "archive/ZStreams.h"
#include "runtime/Format.h"

namespace vorlen {

namespace {

constexpr size_t kOutPiece = 65536;  // as TZCompressionStream hands its output on
constexpr int kMaxThreads = 64;

// The two header bytes zlib writes for a level with the 15-bit window and no dictionary.
void ZlibHeader(int level, uint8_t header[2]) {
  if (level == Z_DEFAULT_COMPRESSION) level = 6;
  const unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned value = (0x78u << 8) | (flags << 6);
  value += 31 - value % 31;
  header[0] = static_cast<uint8_t>(value >> 8);
  header[1] = static_cast<uint8_t>(value);
}

}  // namespace

struct TParallelCompressionStream::TBlock {
  std::vector<uint8_t> Dictionary;
  std::vector<uint8_t> Input;
  bool Last = false;
  size_t Length = 0;  // of the input
  // Filled in by the compressing thread; Done under the stream's lock.
  std::vector<uint8_t> Output;
  uint32_t Adler = 1;
  std::string Error;
  bool Done = false;

  // One raw deflate stream primed with the dictionary, ended on a byte boundary. The calls
  // made depend only on the block, so the bytes do too.
  void Compress(int level) {
    try {
      z_stream z{};
      if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EZlibError("Compression cannot start");
      struct TEnd {
        z_stream& Z;
        ~TEnd() { deflateEnd(&Z); }
      } end{z};
      if (!Dictionary.empty() &&
          deflateSetDictionary(&z, Dictionary.data(), static_cast<uInt>(Dictionary.size())) != Z_OK)
        throw EZlibError("Compression failed: the dictionary was refused");
      // The bound covers the block; the sync flush's empty stored block needs a few more bytes.
      Output.resize(deflateBound(&z, static_cast<uLong>(Input.size())) + 16);
      z.next_in = Input.data();
      z.avail_in = static_cast<uInt>(Input.size());
      const int flush = Last ? Z_FINISH : Z_SYNC_FLUSH;
      for (;;) {
        z.next_out = Output.data() + z.total_out;
        z.avail_out = static_cast<uInt>(Output.size() - z.total_out);
        const int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR)
          throw EZlibError(Format("Compression failed: %s", z.msg != nullptr ? z.msg : zError(rc)));
        if (Last ? rc == Z_STREAM_END : (z.avail_in == 0 && z.avail_out > 0)) break;
        Output.resize(Output.size() * 2);
      }
      Output.resize(z.total_out);
      Adler = static_cast<uint32_t>(
          adler32(adler32(0, nullptr, 0), Input.data(), static_cast<uInt>(Input.size())));
    } catch (const std::exception& e) {
      Error = e.what();
    }
    // The input is not needed any more; only the output waits for its turn.
    std::vector<uint8_t>().swap(Input);
    std::vector<uint8_t>().swap(Dictionary);
  }
};

int TParallelCompressionStream::ThreadCount(int Threads) {
  if (Threads <= 0) Threads = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(Threads, 1, kMaxThreads);
}

TParallelCompressionStream::TParallelCompressionStream(TStream& Dest, int Level, int Threads)
    : FDest(Dest), FLevel(Level), FThreads(ThreadCount(Threads)) {
  FCurrent.reserve(static_cast<size_t>(kBlockSize));
  FOut.reserve(kOutPiece);
}

TParallelCompressionStream::~TParallelCompressionStream() { StopWorkers(); }

void TParallelCompressionStream::StopWorkers() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  for (std::thread& worker : FWorkers) worker.join();
  FWorkers.clear();
}

int64_t TParallelCompressionStream::Read(void*, int64_t) {
  throw EStreamError("Invalid stream operation");
}

int64_t TParallelCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset != 0 || origin == TSeekOrigin::skBeginning)
    throw EStreamError("Invalid stream operation");
  return FHandedOn;
}

int64_t TParallelCompressionStream::Write(const void* buffer, int64_t count) {
  if (FFinished) throw EStreamError("Invalid stream operation");
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    // A full block goes only once more input shows that it is not the last.
    if (static_cast<int64_t>(FCurrent.size()) == kBlockSize) Submit(false);
    const int64_t take = std::min(left, kBlockSize - static_cast<int64_t>(FCurrent.size()));
    FCurrent.insert(FCurrent.end(), bytes, bytes + take);
    bytes += take;
    left -= take;
    FConsumed += take;
  }
  return count;
}

void TParallelCompressionStream::Submit(bool last) {
  if (!FStarted) {
    uint8_t header[2];
    ZlibHeader(FLevel, header);
    Put(header, 2, 0);
    FStarted = true;
  }
  auto block = std::make_shared<TBlock>();
  block->Last = last;
  block->Dictionary = FDictionary;
  const size_t keep = std::min(FCurrent.size(), static_cast<size_t>(kDictionarySize));
  FDictionary.assign(FCurrent.end() - static_cast<std::ptrdiff_t>(keep), FCurrent.end());
  block->Length = FCurrent.size();
  block->Input.swap(FCurrent);
  FCurrent.clear();
  FCurrent.reserve(static_cast<size_t>(kBlockSize));
  FInOrder.push_back(block);

  if (FThreads == 1) {
    block->Compress(FLevel);
    block->Done = true;
  } else {
    if (FWorkers.empty())
      for (int i = 0; i < FThreads; ++i) FWorkers.emplace_back([this] { Work(); });
    {
      std::lock_guard<std::mutex> lock(FLock);
      FQueue.push_back(block);
    }
    FChanged.notify_all();
  }
  // A bounded window: two blocks a thread in flight, the oldest written out first.
  while (FInOrder.size() > static_cast<size_t>(2 * FThreads)) WriteDone(true);
  WriteDone(false);
}

void TParallelCompressionStream::Work() {
  for (;;) {
    std::shared_ptr<TBlock> block;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [this] { return FStopping || !FQueue.empty(); });
      if (FStopping) return;
      block = FQueue.front();
      FQueue.pop_front();
    }
    block->Compress(FLevel);
    {
      std::lock_guard<std::mutex> lock(FLock);
      block->Done = true;
    }
    FChanged.notify_all();
  }
}

void TParallelCompressionStream::WriteDone(bool wait) {
  while (!FInOrder.empty()) {
    const std::shared_ptr<TBlock> block = FInOrder.front();
    {
      std::unique_lock<std::mutex> lock(FLock);
      if (!block->Done) {
        if (!wait) return;
        FChanged.wait(lock, [&block] { return block->Done; });
      }
    }
    if (!block->Error.empty()) throw EZlibError(block->Error);
    FAdler = static_cast<uint32_t>(
        adler32_combine(FAdler, block->Adler, static_cast<z_off_t>(block->Length)));
    FInOrder.pop_front();
    Put(block->Output.data(), static_cast<int64_t>(block->Output.size()),
        static_cast<int64_t>(block->Length));
    if (wait) return;
  }
}

void TParallelCompressionStream::Put(const uint8_t* bytes, int64_t count, int64_t inputLength) {
  const int64_t inputBefore = FHandedOn;
  for (int64_t done = 0; done < count;) {
    const auto take = static_cast<size_t>(
        std::min<int64_t>(count - done, static_cast<int64_t>(kOutPiece - FOut.size())));
    FOut.insert(FOut.end(), bytes + done, bytes + done + static_cast<int64_t>(take));
    done += static_cast<int64_t>(take);
    if (FOut.size() == kOutPiece) {
      FDest.WriteBuffer(FOut.data(), static_cast<int64_t>(FOut.size()));
      FOut.clear();
      // The block's input counts in proportion to its output handed on.
      FHandedOn = inputBefore + inputLength * done / count;
      if (OnProgress) OnProgress(*this);
    }
  }
  FHandedOn = inputBefore + inputLength;
}

void TParallelCompressionStream::Finish() {
  if (FFinished) return;
  if (!FStarted) {
    // One block at most: the single stream, exactly as it always was.
    TZCompressionStream writer(FDest, FLevel);
    writer.OnProgress = [this](TZCompressionStream& sender) {
      if (OnProgress) OnProgress(sender);
    };
    if (!FCurrent.empty())
      writer.WriteBuffer(FCurrent.data(), static_cast<int64_t>(FCurrent.size()));
    writer.Finish();
    FHandedOn = FConsumed;
    FFinished = true;
    return;
  }
  Submit(true);
  while (!FInOrder.empty()) WriteDone(true);
  FFinished = true;
  const uint8_t trailer[4] = {static_cast<uint8_t>(FAdler >> 24),
                              static_cast<uint8_t>(FAdler >> 16), static_cast<uint8_t>(FAdler >> 8),
                              static_cast<uint8_t>(FAdler)};
  // The last piece goes without a report, as with the single stream.
  FOut.insert(FOut.end(), trailer, trailer + 4);
  if (FOut.size() >= kOutPiece) {
    FDest.WriteBuffer(FOut.data(), static_cast<int64_t>(kOutPiece));
    FOut.erase(FOut.begin(), FOut.begin() + static_cast<std::ptrdiff_t>(kOutPiece));
  }
  if (!FOut.empty()) FDest.WriteBuffer(FOut.data(), static_cast<int64_t>(FOut.size()));
  FOut.clear();
  StopWorkers();
}

}  // namespace vorlen
