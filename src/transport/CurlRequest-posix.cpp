#include "transport/CurlRequest.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "transport/SOAPHTTPException.h"

namespace vorlen {

namespace {

// Header name match ignoring case; returns the trimmed value when line is "name: value".
bool HeaderValue(std::string_view line, const char* name, std::string& value) {
  const size_t length = std::strlen(name);
  if (line.size() <= length || line[length] != ':') return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  size_t begin = length + 1;
  size_t end = line.size();
  while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
  value.assign(line.substr(begin, end - begin));
  return true;
}

}  // namespace

TCurlRequest::TCurlRequest(CURL* handle, std::string url) : FHandle(handle), FURL(std::move(url)) {}

void TCurlRequest::SetCredentials(const std::string& userName, const std::string& password) {
  FUserName = userName;
  FPassword = password;
}

void TCurlRequest::SetProxyCredentials(const std::string& userName, const std::string& password) {
  FProxyUserName = userName;
  FProxyPassword = password;
}

void TCurlRequest::ApplyOptions(const TRequestBody& body) {
  CURL* h = FHandle;
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, FHeaders ? FHeaders->Get() : nullptr);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, FErrorBuffer.data());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(FConnectTimeoutMs > 0 ? FConnectTimeoutMs : 0));

  const bool ignorePeer =
      (FSecurityFlags & (kSecurityIgnoreUnknownCA | kSecurityIgnoreCertDateInvalid)) != 0;
  const bool ignoreHost = (FSecurityFlags & kSecurityIgnoreCertCNInvalid) != 0;
  if (PeerCheckUsed()) {
    FPeerCheck->Install(h);
  } else {
    // The handle keeps a check installed for an earlier request.
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, nullptr);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, ignorePeer ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, ignoreHost ? 0L : 2L);
  }
  curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYPEER, ignorePeer ? 0L : 1L);
  curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYHOST, ignoreHost ? 0L : 2L);

  // Set or cleared on every request: the handle keeps options from the previous one.
  const bool user = !FUserName.empty();
  curl_easy_setopt(h, CURLOPT_USERNAME, user ? FUserName.c_str() : nullptr);
  curl_easy_setopt(h, CURLOPT_PASSWORD, user ? FPassword.c_str() : nullptr);
  curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(user ? CURLAUTH_ANY : CURLAUTH_BASIC));
  const bool proxyUser = !FProxyUserName.empty();
  curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser ? FProxyUserName.c_str() : nullptr);
  curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyUser ? FProxyPassword.c_str() : nullptr);
  curl_easy_setopt(h, CURLOPT_PROXYAUTH,
                   static_cast<long>(proxyUser ? CURLAUTH_ANY : CURLAUTH_BASIC));

  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TCurlRequest::HeaderCallback);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TCurlRequest::WriteCallback);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TCurlRequest::ProgressCallback);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &TCurlRequest::PrereqCallback);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, this);

  curl_easy_setopt(h, CURLOPT_POST, 1L);
  // Room for two blocks (libcurl accepts 16 KiB to 2 MiB): a fixed buffer, whatever the body's
  // size, so the socket sees fewer, larger writes while the stream is still read block by block.
  const long bufferSize =
      static_cast<long>(std::clamp<int64_t>(body.BlockSize * 2, 16 * 1024, 2 * 1024 * 1024));
  // Writing the size drops libcurl's buffer, so a kept handle gets it only when it changes.
  if (FHandleState == nullptr || FHandleState->UploadBufferSize != bufferSize) {
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, bufferSize);
    if (FHandleState != nullptr) FHandleState->UploadBufferSize = bufferSize;
  }
  curl_easy_setopt(h, CURLOPT_READFUNCTION, &TCurlRequest::ReadCallback);
  curl_easy_setopt(h, CURLOPT_READDATA, this);
  // An authentication round trip may need the body again.
  curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &TCurlRequest::SeekCallback);
  curl_easy_setopt(h, CURLOPT_SEEKDATA, this);
  if (body.Data != nullptr || body.Size == 0) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.Data != nullptr ? body.Data : "");
  } else {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
  }
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.Size));
}

CURLcode TCurlRequest::Perform(const TRequestBody& body, TResponseBody& response) {
  FStatus = 0;
  FStatusText.clear();
  FContentType.clear();
  FAuthSchemes.clear();
  FContentLength = -1;
  FPending = nullptr;
  FStoppedAtHeaders = false;
  FTimedOut = false;
  FConnected = false;
  FResponseStarted = false;
  FLastUp = FLastDown = -1;
  FErrorBuffer.fill('\0');
  FBody = &body;
  FResponse = &response;
  MarkActivity();

  ApplyOptions(body);
  const CURLcode code = curl_easy_perform(FHandle);
  // The handle outlives this request: it must not keep pointers into it.
  curl_easy_setopt(FHandle, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(FHandle, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(FHandle, CURLOPT_POSTFIELDS, nullptr);
  FBody = nullptr;
  FResponse = nullptr;
  return code;
}

void TCurlRequest::RethrowPending() {
  if (FPending) {
    std::exception_ptr pending = FPending;
    FPending = nullptr;
    std::rethrow_exception(pending);
  }
}

std::string TCurlRequest::ErrorText(CURLcode code) const {
  if (FTimedOut) return "The operation timed out";
  std::string text(FErrorBuffer.data());
  if (text.empty()) text = curl_easy_strerror(code);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

size_t TCurlRequest::HeaderCallback(char* data, size_t size, size_t count, void* self) {
  auto& request = *static_cast<TCurlRequest*>(self);
  const size_t length = size * count;
  // Nothing may unwind through libcurl: a failure is kept and the transfer ends.
  try {
    return request.HeaderLine(std::string_view(data, length)) ? length : 0;
  } catch (...) {
    request.FPending = std::current_exception();
    return 0;
  }
}

bool TCurlRequest::HeaderLine(std::string_view header) {
  FResponseStarted = true;
  MarkActivity();

  // Only a status line is copied; the other lines are looked at where libcurl holds them.
  if (header.starts_with("HTTP/")) {
    const std::string line(header);
    // A new response (an interim 1xx, an authentication round or the final one).
    FContentType.clear();
    FAuthSchemes.clear();
    FStatusText.clear();
    FContentLength = -1;
    const size_t firstSpace = line.find(' ');
    FStatus = firstSpace == std::string::npos ? 0 : std::atoi(line.c_str() + firstSpace + 1);
    if (firstSpace != std::string::npos) {
      const size_t secondSpace = line.find(' ', firstSpace + 1);
      if (secondSpace != std::string::npos) {
        std::string reason = line.substr(secondSpace + 1);
        while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n'))
          reason.pop_back();
        FStatusText = reason;
      }
    }
    return true;
  }
  std::string value;
  if (HeaderValue(header, "content-type", value)) {
    FContentType = value;
  } else if (HeaderValue(header, "content-length", value)) {
    char* end = nullptr;
    const long long length = std::strtoll(value.c_str(), &end, 10);
    if (end != value.c_str() && *end == '\0' && length >= 0) FContentLength = length;
  } else if (HeaderValue(header, "www-authenticate", value) ||
             HeaderValue(header, "proxy-authenticate", value)) {
    const std::string scheme = value.substr(0, value.find(' '));
    if (!FAuthSchemes.empty()) FAuthSchemes += ' ';
    FAuthSchemes += scheme;
  } else if (header == "\r\n" || header == "\n") {
    if (FStatus >= 100 && FStatus < 200) return true;
    // A status error is raised without its body; only a challenge that libcurl is about to
    // answer with the credentials it holds is let through.
    const bool curlAnswers =
        (FStatus == 401 && !FUserName.empty()) || (FStatus == 407 && !FProxyUserName.empty());
    if (StatusIsError() && !(IsAuthStatus(FStatus) && curlAnswers)) {
      FStoppedAtHeaders = true;
      return false;
    }
    // A body announced too long is refused before a byte of it is read.
    if (!StatusIsError() && FContentLength >= 0) FResponse->Announce(FContentLength);
  }
  return true;
}

size_t TCurlRequest::WriteCallback(char* data, size_t size, size_t count, void* self) {
  auto& request = *static_cast<TCurlRequest*>(self);
  const size_t length = size * count;
  request.MarkActivity();
  if (request.StatusIsError()) return length;  // an authentication round's page
  try {
    request.FResponse->Append(data, static_cast<int64_t>(length));
  } catch (...) {
    request.FPending = std::current_exception();
    return 0;
  }
  return length;
}

size_t TCurlRequest::ReadCallback(char* buffer, size_t size, size_t count, void* self) {
  auto& request = *static_cast<TCurlRequest*>(self);
  const TRequestBody& body = *request.FBody;
  // libcurl's buffer takes several blocks; each block is read and reported on its own, so the
  // socket sees fewer, larger writes while the stream is still read block by block.
  const int64_t room = static_cast<int64_t>(size * count);
  int64_t filled = 0;
  try {
    for (;;) {
      const int64_t remaining = body.Size - body.Stream->Position();
      const int64_t wanted = std::min<int64_t>({remaining, body.BlockSize, room - filled});
      if (wanted <= 0) break;
      const int64_t read = body.Stream->Read(buffer + filled, wanted);
      if (read <= 0) throw ESOAPHTTPException("Invalid HTTP Request: Length is 0", 0);
      filled += read;
      if (body.OnBlock) body.OnBlock(body.Stream->Position(), body.Size);
    }
    return static_cast<size_t>(filled);
  } catch (...) {
    request.FPending = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

int TCurlRequest::SeekCallback(void* self, curl_off_t offset, int origin) {
  auto& request = *static_cast<TCurlRequest*>(self);
  // A body sent in one piece is rewound by libcurl itself.
  if (origin != SEEK_SET || request.FBody == nullptr || request.FBody->Stream == nullptr)
    return CURL_SEEKFUNC_CANTSEEK;
  try {
    request.FBody->Stream->SetPosition(offset);
    return CURL_SEEKFUNC_OK;
  } catch (...) {
    return CURL_SEEKFUNC_FAIL;
  }
}

int TCurlRequest::PrereqCallback(void* self, char*, char*, int, int) {
  auto& request = *static_cast<TCurlRequest*>(self);
  request.FConnected = true;
  request.MarkActivity();
  return CURL_PREREQFUNC_OK;
}

int TCurlRequest::ProgressCallback(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                                   curl_off_t ulNow) {
  auto& request = *static_cast<TCurlRequest*>(self);
  if (!request.FConnected) return 0;  // the connect time-out is libcurl's own
  if (ulNow != request.FLastUp || dlNow != request.FLastDown) {
    request.FLastUp = ulNow;
    request.FLastDown = dlNow;
    request.MarkActivity();
  }
  const bool sending = !request.FResponseStarted && ulNow < request.FBody->Size;
  const int limit = sending ? request.FSendTimeoutMs : request.FReceiveTimeoutMs;
  if (limit <= 0) return 0;
  const auto idle = std::chrono::steady_clock::now() - request.FLastActivity;
  if (idle > std::chrono::milliseconds(limit)) {
    request.FTimedOut = true;
    return 1;
  }
  return 0;
}

}  // namespace vorlen
