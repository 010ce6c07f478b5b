#include "platform/Console.h"

#include <streambuf>

namespace vorlen {

namespace {

// Collects text and hands it on in whole UTF-8 characters, so a console never sees half of one.
class TConsoleBuffer : public std::streambuf {
 public:
  explicit TConsoleBuffer(TStdStream stream) : FStream(stream) {}
  ~TConsoleBuffer() override { Emit(FPending.size()); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    FPending.push_back(traits_type::to_char_type(c));
    if (FPending.size() >= kBlock) Emit(CompleteLength());
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    FPending.append(text, static_cast<size_t>(count));
    if (FPending.size() >= kBlock) Emit(CompleteLength());
    return count;
  }
  int sync() override {
    Emit(CompleteLength());
    return 0;
  }

 private:
  static constexpr size_t kBlock = 4096;

  // The length of the pending text without an unfinished UTF-8 sequence at its end.
  size_t CompleteLength() const {
    size_t start = FPending.size();
    for (size_t back = 0; back < 4 && start > 0; ++back) {
      const auto byte = static_cast<unsigned char>(FPending[start - 1]);
      if ((byte & 0xC0) != 0x80) {  // a lead byte or ASCII: is its sequence complete?
        const size_t need = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return back + 1 >= need ? FPending.size() : start - 1;
      }
      --start;
    }
    return FPending.size();
  }

  void Emit(size_t length) {
    if (length == 0) return;
    WriteStdText(FStream, std::string_view(FPending).substr(0, length));
    FPending.erase(0, length);
  }

  TStdStream FStream;
  std::string FPending;
};

// Hands on standard input a line at a time, so that nothing is read ahead of the question asked.
class TInputBuffer : public std::streambuf {
 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    std::string line;
    if (!ReadStdInputLine(line)) return traits_type::eof();
    if (FFirst && line.rfind(kByteOrderMark, 0) == 0) line.erase(0, kByteOrderMark.size());
    FFirst = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    FLine = line + '\n';
    setg(FLine.data(), FLine.data(), FLine.data() + FLine.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  bool FFirst = true;
  std::string FLine;
};

}  // namespace

TConsoleInput::TConsoleInput() : std::istream(nullptr), FBuffer(std::make_unique<TInputBuffer>()) {
  rdbuf(FBuffer.get());
}

TConsoleInput::~TConsoleInput() = default;

TConsoleOutput::TConsoleOutput(TStdStream stream)
    : std::ostream(nullptr), FBuffer(std::make_unique<TConsoleBuffer>(stream)) {
  rdbuf(FBuffer.get());
}

TConsoleOutput::~TConsoleOutput() { flush(); }

}  // namespace vorlen
