#include "mime/MimeSplit.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "mime/MimeFiles.h"
#include "mime/MimeLineReader.h"

namespace vorlen {

namespace {

constexpr size_t kHeaderLineLimit = 1024;
constexpr size_t kContentLineLimit = 10240;
// Real parts carry a handful; more than this is garbage that would only eat memory.
constexpr size_t kMaxHeaderLines = 256;
// Every attachment costs a cache file; a few bytes per part must not fill the disk with them.
constexpr size_t kMaxAttachments = 100;
const char* const kReadError = "Error reading from Mime Request Stream";

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

size_t FindNoCase(const std::string& text, const std::string& what) {
  auto it = std::search(text.begin(), text.end(), what.begin(), what.end(),
                        [](char x, char y) { return Lower(x) == Lower(y); });
  return it == text.end() ? std::string::npos : static_cast<size_t>(it - text.begin());
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string BoundaryOf(const std::string& contentTypeOrBoundary) {
  if (!StartsWithNoCase(contentTypeOrBoundary, "multipart/related")) return contentTypeOrBoundary;
  const size_t at = FindNoCase(contentTypeOrBoundary, "boundary=");
  if (at == std::string::npos) return {};
  std::string value = contentTypeOrBoundary.substr(at + 9);
  value = Trim(value.substr(0, value.find(';')));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

namespace {

std::string WithoutLineEnd(const std::string& line) {
  size_t n = line.size();
  if (n > 0 && line[n - 1] == '\n') --n;
  if (n > 0 && line[n - 1] == '\r') --n;
  return line.substr(0, n);
}

enum class TDelimiter { dlNone, dlPart, dlClose };

TDelimiter DelimiterKind(const std::string& line, const std::string& boundary) {
  // Delimiter lines are short; skip the copy for ordinary content lines.
  if (line.size() > boundary.size() + 6) return TDelimiter::dlNone;
  const std::string text = WithoutLineEnd(line);
  const std::string delimiter = "--" + boundary;
  if (EqualsNoCase(text, boundary) || EqualsNoCase(text, delimiter)) return TDelimiter::dlPart;
  if (EqualsNoCase(text, delimiter + "--")) return TDelimiter::dlClose;
  return TDelimiter::dlNone;
}

bool IsBlankLine(const std::string& line) { return WithoutLineEnd(line).empty(); }

int64_t ParseContentLength(const std::string& value) {
  if (value.empty() || value.size() > 18 ||
      !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw Exception(Format("Invalid Content-Length \"%s\" in MIME part", value.c_str()));
  return std::stoll(value);
}

struct TPartHeaders {
  std::vector<std::string> Lines;
  std::vector<std::pair<std::string, std::string>> Fields;

  std::optional<std::string> Find(const std::string& name) const {
    for (const auto& field : Fields)
      if (EqualsNoCase(field.first, name)) return field.second;
    return std::nullopt;
  }
};

// False when the stream ended before the part's first header line.
bool ReadHeaders(TMimeLineReader& reader, TPartHeaders& headers) {
  std::string line;
  for (;;) {
    if (!reader.ReadLine(line, kHeaderLineLimit)) {
      if (headers.Lines.empty()) return false;
      throw Exception(kReadError);
    }
    if (line.back() != '\n') {
      // A short line without its end means the stream stopped in the middle of it.
      if (line.size() < kHeaderLineLimit) throw Exception(kReadError);
      throw Exception(
          Format("MIME header line longer than %d bytes", static_cast<int>(kHeaderLineLimit)));
    }
    const std::string text = WithoutLineEnd(line);
    if (text.empty()) return true;
    if (headers.Lines.size() == kMaxHeaderLines)
      throw Exception(
          Format("More than %d header lines in a MIME part", static_cast<int>(kMaxHeaderLines)));
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
      throw Exception("Malformed MIME header line: no field name");
    headers.Lines.push_back(text);
    headers.Fields.emplace_back(Trim(text.substr(0, colon)), Trim(text.substr(colon + 1)));
  }
}

// Copies lines to target up to the next delimiter, which it returns. The line end before the
// delimiter belongs to the delimiter and is not copied.
TDelimiter CopyUpToDelimiter(TMimeLineReader& reader, TStream& target,
                             const std::string& boundary) {
  std::string line;
  std::string pending;  // a held-back line end
  bool atLineStart = true;
  for (;;) {
    if (!reader.ReadLine(line, kContentLineLimit)) throw Exception(kReadError);
    if (atLineStart) {
      const TDelimiter kind = DelimiterKind(line, boundary);
      if (kind != TDelimiter::dlNone) return kind;
    }
    atLineStart = line.back() == '\n';
    std::string data = pending + line;
    size_t keep = data.size();
    if (keep > 0 && data[keep - 1] == '\n') --keep;
    if (keep > 0 && data[keep - 1] == '\r') --keep;
    pending = data.substr(keep);
    target.WriteBuffer(data.data(), static_cast<int64_t>(keep));
  }
}

// After a part read by its Content-Length only blank lines may come before the next delimiter.
TDelimiter SkipToDelimiter(TMimeLineReader& reader, const std::string& boundary) {
  std::string line;
  for (;;) {
    if (!reader.ReadLine(line, kContentLineLimit)) return TDelimiter::dlClose;  // stream ended
    const TDelimiter kind = DelimiterKind(line, boundary);
    if (kind != TDelimiter::dlNone) return kind;
    if (!IsBlankLine(line)) throw Exception("MIME part longer than its Content-Length");
  }
}

}  // namespace

void SplitMultipartMessage(TStream& source, TStream& rootPart,
                           const std::string& contentTypeOrBoundary, TSoapDataList& received,
                           const std::string& tempDir) {
  const std::string boundary = BoundaryOf(contentTypeOrBoundary);
  if (boundary.empty()) return;

  TMimeLineReader reader(source);
  std::string line;
  // Preamble: everything before the first delimiter.
  for (bool atLineStart = true;;) {
    if (!reader.ReadLine(line, kContentLineLimit)) throw Exception(kReadError);
    if (atLineStart) {
      const TDelimiter kind = DelimiterKind(line, boundary);
      if (kind == TDelimiter::dlPart) break;
      if (kind == TDelimiter::dlClose) return;
    }
    atLineStart = line.back() == '\n';
  }

  std::optional<std::filesystem::path> directory;
  int nextNumber = 0;
  const size_t receivedBefore = received.size();
  for (bool first = true;; first = false) {
    TPartHeaders headers;
    if (!ReadHeaders(reader, headers) || headers.Lines.empty()) return;

    // Declared before the file so that the file is closed before the entry removes it.
    std::unique_ptr<TSOAPAttachmentData> attachment;
    std::unique_ptr<TFileStream> file;
    TStream* target = &rootPart;
    if (!first) {
      if (received.size() - receivedBefore == kMaxAttachments)
        throw Exception(Format("More than %d attachments in a MIME message",
                               static_cast<int>(kMaxAttachments)));
      if (!directory) directory = MimeTempDirectory(tempDir);
      attachment = std::make_unique<TSOAPAttachmentData>();
      std::string path;
      file = CreateNumberedFile(*directory, "SenderSoapAttachment", nextNumber, path, nextNumber);
      ++nextNumber;
      attachment->CacheFile = path;
      // Removed with the entry: the receiver copies or keeps what it needs.
      attachment->CacheFilePersist = false;
      target = file.get();
    }

    TDelimiter next;
    if (const auto length = headers.Find("Content-Length")) {
      if (!reader.CopyTo(*target, ParseContentLength(*length)))
        throw Exception("Insufficient data for Content-Length");
      next = SkipToDelimiter(reader, boundary);
    } else {
      next = CopyUpToDelimiter(reader, *target, boundary);
    }

    if (attachment) {
      file.reset();
      std::string id = headers.Find("Content-ID").value_or("");
      if (id.empty()) id = headers.Find("Content-Location").value_or("");
      if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
      attachment->ContentId = id;
      attachment->Headers = headers.Lines;
      attachment->ContentType = headers.Find("Content-Type").value_or("");
      attachment->Encoding = headers.Find("Content-transfer-encoding").value_or("");
      received.push_back(std::move(attachment));
    }
    if (next == TDelimiter::dlClose) return;
  }
}

}  // namespace vorlen
