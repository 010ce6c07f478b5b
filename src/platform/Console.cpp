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

}  // namespace

TConsoleOutput::TConsoleOutput(TStdStream stream)
    : std::ostream(nullptr), FBuffer(std::make_unique<TConsoleBuffer>(stream)) {
  rdbuf(FBuffer.get());
}

TConsoleOutput::~TConsoleOutput() { flush(); }

}  // namespace vorlen
