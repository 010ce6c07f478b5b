#include "server/HttpService.h"

#include <microhttpd.h>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/Paths.h"
#include "runtime/Format.h"
#include "server/SpooledBody.h"
#include "server/Wsdl.h"

namespace vorlen {

const char* const kSoapPath = "/FileUploader/Sender_Server.dll/soap/ISenderService";
const char* const kWsdlPath = "/FileUploader/Sender_Server.dll/wsdl/ISenderService";

namespace {

const char* const kTextContentType = "text/plain; charset=utf-8";

// host and port of a socket address as text; port 0 leaves the port out.
std::string AddressText(const sockaddr* address, bool withPort) {
  if (address == nullptr) return "-";
  const socklen_t length =
      address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  char host[NI_MAXHOST] = "-";
  char port[NI_MAXSERV] = "0";
  getnameinfo(address, length, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  if (!withPort) return host;
  return Format(address->sa_family == AF_INET6 ? "[%s]:%s" : "%s:%s", host, port);
}

const sockaddr* ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return info == nullptr ? nullptr : info->client_addr;
}

std::string HeaderValue(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value == nullptr ? std::string() : std::string(value);
}

// Every value of a header that may come more than once.
std::vector<std::string> HeaderValues(MHD_Connection* connection, const char* name) {
  struct TQuery {
    const char* Name;
    std::vector<std::string> Values;
  } query{name, {}};
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* cls, enum MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
        auto* q = static_cast<TQuery*>(cls);
        if (strcasecmp(key, q->Name) == 0) q->Values.emplace_back(value ? value : "");
        return MHD_YES;
      },
      &query);
  return query.Values;
}

// The announced body length: -1 when none was announced, -2 when the text is not a
// decimal number, INT64_MAX when it does not fit.
int64_t AnnouncedLength(const std::string& text) {
  if (text.empty()) return -1;
  uint64_t length = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, length);
  if (ec == std::errc::result_out_of_range) return INT64_MAX;
  if (ec != std::errc() || ptr != end) return -2;
  return length > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(length);
}

// True for the one transfer coding read: "chunked" alone (letter case and surrounding blanks
// aside). Lists such as "gzip, chunked" and unknown codings are refused rather than guessed at.
bool IsPlainChunked(const std::string& value) {
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const size_t last = value.find_last_not_of(" \t");
  return strcasecmp(value.substr(first, last - first + 1).c_str(), "chunked") == 0;
}

std::vector<TAddressRange> TrustedRanges(const TServiceOptions& options) {
  std::vector<TAddressRange> ranges;
  for (const std::string& text : options.TrustedProxies) {
    if (const std::optional<TAddressRange> range = ParseAddressRange(text)) {
      ranges.push_back(*range);
    } else {
      throw Exception(Format("Not an address or address range: %s", text.c_str()));
    }
  }
  return ranges;
}

}  // namespace

// What one request carries from its head to its answer.
struct THttpService::TRequest {
  TRoute Route = rtNotFound;
  std::string Peer;     // address and port, for the log
  std::string Address;  // the peer the per-peer limits count (see TPeerRules)
  std::string Line;     // method and path, for the log of refusals
  std::string ContentType;
  TRequest(std::string spoolFolder, TDiskBudget& budget, std::atomic<int64_t>& heldPool)
      : Body(std::move(spoolFolder), &budget), HeldPool(heldPool) {}
  TRequest(const TRequest&) = delete;
  TRequest& operator=(const TRequest&) = delete;
  ~TRequest() { Release(); }
  // Gives the body's bytes back to the service's budget of held bodies.
  void Release() {
    Body.Clear();
    HeldPool -= Held;
    Held = 0;
  }

  TSpooledBody Body;
  std::atomic<int64_t>& HeldPool;
  int64_t Held = 0;  // bytes of Body counted in HeldPool
  int64_t Limit = 0;      // most body bytes held
  bool TooLarge = false;  // the body ran past the limit; the rest is dropped
  // The body could not be held (a full disk, the storage budget); the rest is dropped.
  std::exception_ptr Unheld;
  int64_t Dropped = 0;
  bool Answered = false;
};

struct THttpCallbacks {
  static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char* data, size_t* size,
                           void** context) {
    auto& self = *static_cast<THttpService*>(cls);
    if (*context == nullptr) {
      return self.BeginRequest(connection, url, method, context) ? MHD_YES : MHD_NO;
    }
    auto& request = *static_cast<THttpService::TRequest*>(*context);
    if (request.Answered) {
      *size = 0;  // a refused body is not read; the connection closes after the answer
      return MHD_YES;
    }
    if (*size > 0) {
      const bool ok = self.ReceiveBody(connection, request, data, *size);
      *size = 0;
      return ok ? MHD_YES : MHD_NO;
    }
    request.Answered = true;
    bool ok;
    if (request.TooLarge || request.Unheld) {
      ok = self.RefuseBody(connection, request);
    } else {
      self.FWatch->Answering(connection);
      ok = request.Route == THttpService::rtSoap ? self.ServeSoap(connection, request)
                                                 : self.ServeWsdl(connection, request);
    }
    return ok ? MHD_YES : MHD_NO;
  }

  static void Completed(void* cls, MHD_Connection* connection, void** context,
                        MHD_RequestTerminationCode reason) {
    auto& self = *static_cast<THttpService*>(cls);
    std::unique_ptr<THttpService::TRequest> request(static_cast<THttpService::TRequest*>(*context));
    *context = nullptr;
    if (request && !request->Answered && reason != MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN) {
      // The peer went away (or was closed for being slow) before its body was complete: what
      // came is not taken for the request.
      self.FLog.Write(request->Peer, "", "", "HTTP 400: incomplete request body");
    }
    self.FWatch->Answered(connection);
  }

  static void Connection(void* cls, MHD_Connection* connection, void**,
                         MHD_ConnectionNotificationCode code) {
    auto& self = *static_cast<THttpService*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
      self.FWatch->Closed(connection);
      return;
    }
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const sockaddr* address = ClientAddress(connection);
    // A trusted proxy carries everybody's connections: only the global bound applies to it.
    self.FWatch->Opened(connection, info == nullptr ? -1 : info->connect_fd,
                        AddressText(address, true),
                        self.FPeers.IsTrustedProxy(address) ? std::string()
                                                            : self.FPeers.PeerOf(address));
  }
};

THttpService::THttpService(const TServiceOptions& options,
                           std::function<void(const std::string&)> logSink)
    : FOptions(options),
      FPeers(options.Ipv6Prefix, TrustedRanges(options)),
      FLog(std::move(logSink)),
      FSenderServer(FsPathFromUtf8(options.Root), ServiceLimitsOf(options)),
      FEndpoint(FSenderServer),
      FSpoolFolder(Utf8FromFsPath(FSenderServer.IncomingDir())) {
  FSenderServer.OnRefusal = [this](const std::string& session, const std::string& operation,
                                   const std::string& reason) {
    FLog.Write("-", session, operation, "false: " + reason);
  };
}

THttpService::~THttpService() { Stop(); }

bool THttpService::BeginRequest(MHD_Connection* connection, const char* url, const char* method,
                                void** context) {
  FWatch->HeadReceived(connection);
  auto request = std::make_unique<TRequest>(FSpoolFolder, FSenderServer.Budget(), FHeldBytes);
  const sockaddr* address = ClientAddress(connection);
  request->Peer = AddressText(address, true);
  request->Address = FPeers.PeerOf(address);
  std::optional<std::string> forwarded;
  bool badForwarding = false;
  if (FPeers.IsTrustedProxy(address)) {
    const std::vector<std::string> hops = HeaderValues(connection, ForwardedHeader());
    forwarded = FPeers.ForwardedPeer(hops, FOptions.StandardForwarded);
    badForwarding = !hops.empty() && !forwarded;
    if (forwarded) {
      request->Address = *forwarded;
      request->Peer = *forwarded + "," + request->Peer;  // client, then the proxy as in the header
    }
  }
  request->Line = std::string(method) + " " + url;  // escaped as it is written
  const bool post = strcmp(method, MHD_HTTP_METHOD_POST) == 0;
  const bool get = strcmp(method, MHD_HTTP_METHOD_GET) == 0;
  if (post && strcmp(url, kSoapPath) == 0) request->Route = rtSoap;
  if (get && strcmp(url, kWsdlPath) == 0) request->Route = rtWsdl;
  TRequest& current = *request;
  *context = request.release();

  if (badForwarding) {
    current.Answered = true;
    return Refuse(connection, current.Peer, MHD_HTTP_BAD_REQUEST,
                  std::string("Malformed ") + ForwardedHeader() + "\n");
  }
  if (current.Route == rtNotFound) {
    current.Answered = true;
    FWatch->Answering(connection);
    FLog.Write(current.Peer, "", current.Line, "HTTP 404");
    return Answer(connection, MHD_HTTP_NOT_FOUND, kTextContentType, "HTTP 404\n", false);
  }
  // Two lengths, or a length beside a transfer coding, let a proxy in front and this service
  // frame the body differently: a request could hide inside another. Only plain chunked framing
  // is read; the connection closes after the refusal, so nothing behind it is taken for a request.
  const std::vector<std::string> lengths = HeaderValues(connection, "Content-Length");
  const std::vector<std::string> codings = HeaderValues(connection, "Transfer-Encoding");
  if (!codings.empty() && !lengths.empty()) {
    current.Answered = true;
    return Refuse(connection, current.Peer, MHD_HTTP_BAD_REQUEST,
                  "Transfer-Encoding together with Content-Length\n");
  }
  if (codings.size() > 1 || (codings.size() == 1 && !IsPlainChunked(codings.front()))) {
    current.Answered = true;
    return Refuse(connection, current.Peer, MHD_HTTP_BAD_REQUEST,
                  "Unsupported Transfer-Encoding\n");
  }
  for (const std::string& other : lengths) {
    if (other != lengths.front()) {
      current.Answered = true;
      return Refuse(connection, current.Peer, MHD_HTTP_BAD_REQUEST,
                    "Conflicting Content-Length headers\n");
    }
  }
  const int64_t announced = AnnouncedLength(lengths.empty() ? std::string() : lengths.front());
  if (announced == -2) {
    current.Answered = true;
    return Refuse(connection, current.Peer, MHD_HTTP_BAD_REQUEST, "Malformed Content-Length\n");
  }
  // A body announced larger than the limit is refused before any of it is read.
  if (announced > FOptions.MaxBody) {
    current.Answered = true;
    return Refuse(connection, current.Peer, MHD_HTTP_CONTENT_TOO_LARGE, TooLargeText());
  }
  // A plain envelope has a far smaller limit of its own: answered without reading the rest.
  current.ContentType = HeaderValue(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
  const int64_t own = TSoapEndpoint::BodyLimit(current.ContentType);
  current.Limit = own >= 0 ? std::min(own, FOptions.MaxBody) : FOptions.MaxBody;
  if (announced > current.Limit) {
    current.Answered = true;
    return RefuseBody(connection, current);
  }
  return true;
}

bool THttpService::ReceiveBody(MHD_Connection* connection, TRequest& request, const char* data,
                               size_t size) {
  FWatch->BodyReceived(connection, static_cast<int64_t>(size));
  // Without an announced length (chunked) the limit holds as the data comes. The answer can
  // only go out once the body has ended, so the rest is read and dropped, but not for ever.
  if (request.Unheld) return Drop(request, static_cast<int64_t>(size));
  if (request.TooLarge || request.Body.Size() + static_cast<int64_t>(size) > request.Limit) {
    request.TooLarge = true;
    request.Release();
    return Drop(request, static_cast<int64_t>(size));
  }
  // One budget for the bodies of every connection: beyond it a sender that holds its body open
  // cannot crowd out the service, and the connection is closed (a body is answered only once
  // it is complete).
  const auto bytes = static_cast<int64_t>(size);
  // Before a body costs disk it must look like a request that can be answered. One that cannot
  // (as from a peer holding bodies open) has its connection closed at once, as an answer could
  // only go out once the body had ended: none of it is written, and its slot is free.
  if (request.Route == rtSoap && !request.Body.Spooled() &&
      request.Body.Size() + bytes > TSpooledBody::kInMemory) {
    const std::string why = TSoapEndpoint::UnworthyBody(
        request.ContentType, request.Body.InMemory() + std::string(data, size));
    if (!why.empty()) {
      FLog.Write(request.Peer, "", "", "closed: " + why);
      request.Answered = true;
      return false;
    }
  }
  if ((FHeldBytes += bytes) > FOptions.MaxHeld) {
    FHeldBytes -= bytes;
    FLog.Write(request.Peer, "", "", Format("closed: request bodies held over %lld bytes",
                                            static_cast<long long>(FOptions.MaxHeld)));
    request.Answered = true;
    return false;
  }
  request.Held += bytes;
  // The body grows with what arrives, never with what was announced.
  try {
    request.Body.WriteBuffer(data, bytes);
  } catch (const EServiceLimit&) {
    // Answered once the rest has arrived, as a fault of the service's, never as the sender's.
    request.Unheld = std::current_exception();
    request.Release();
    return Drop(request, 0);
  } catch (const EStreamError& e) {
    FLog.Write(request.Peer, "", "", std::string("closed: ") + e.what());
    request.Answered = true;
    return false;
  }
  return true;
}

bool THttpService::Drop(TRequest& request, int64_t bytes) {
  request.Dropped += bytes;
  if (request.Dropped <= FOptions.MaxBody) return true;
  FLog.Write(request.Peer, "", "", "closed: " + TooLargeText());
  request.Answered = true;
  return false;
}

std::string THttpService::TooLargeText() const {
  return Format("Request body larger than %lld bytes\n", static_cast<long long>(FOptions.MaxBody));
}

bool THttpService::RefuseBody(MHD_Connection* connection, TRequest& request) {
  if (request.Unheld) {
    FWatch->Answering(connection);
    const TSoapReply reply = TSoapEndpoint::Unheld(request.Unheld);
    FLog.Write(request.Peer, "", "", reply.Outcome);
    return Answer(connection, reply.Status, reply.ContentType, reply.Body, true);
  }
  if (request.Limit == FOptions.MaxBody) {
    return Refuse(connection, request.Peer, MHD_HTTP_CONTENT_TOO_LARGE, TooLargeText());
  }
  FWatch->Answering(connection);
  const TSoapReply reply = TSoapEndpoint::EnvelopeTooLarge();
  FLog.Write(request.Peer, "", "", reply.Outcome);
  return Answer(connection, reply.Status, reply.ContentType, reply.Body, true);
}

bool THttpService::ServeSoap(MHD_Connection* connection, TRequest& request) {
  request.Body.SetPosition(0);
  const TSoapReply reply =
      FEndpoint.Handle(HeaderValue(connection, MHD_HTTP_HEADER_CONTENT_TYPE),
                       HeaderValue(connection, "SOAPAction"), request.Body, request.Address);
  request.Release();
  FLog.Write(request.Peer, reply.Session, reply.Operation, reply.Outcome);
  return Answer(connection, reply.Status, reply.ContentType, reply.Body, false);
}

bool THttpService::ServeWsdl(MHD_Connection* connection, TRequest& request) {
  FLog.Write(request.Peer, "", "WSDL", "200");
  return Answer(connection, MHD_HTTP_OK, kSoapContentType, SenderServiceWsdl(Url()), false);
}

bool THttpService::Answer(MHD_Connection* connection, int status, const std::string& contentType,
                          const std::string& body, bool close) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return false;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType.c_str());
  // The rest of a refused body is never read, so the connection cannot carry another request.
  if (close) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued == MHD_YES;
}

bool THttpService::Refuse(MHD_Connection* connection, const std::string& peer, int status,
                          const std::string& text) {
  FWatch->Answering(connection);
  FLog.Write(peer, "", "", Format("HTTP %d", status));
  return Answer(connection, status, kTextContentType, text, true);
}

namespace {

std::string ReadPemFile(const std::string& path) {
  std::ifstream file(FsPathFromUtf8(path), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) text.clear();
  if (text.empty()) throw Exception(Format("Cannot read %s", path.c_str()));
  return text;
}

}  // namespace

int THttpService::Bind() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(FOptions.Port);
  const auto failure = [&] {
    return Exception(Format("Cannot listen on %s port %d", FOptions.Host.c_str(), FOptions.Port));
  };
  if (getaddrinfo(FOptions.Host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
    throw failure();
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);

  FWatch = std::make_unique<TConnectionWatch>(
      TConnectionDeadlines{std::chrono::seconds(FOptions.HeadSeconds),
                           std::chrono::seconds(FOptions.KeepAliveSeconds), FOptions.MinRate,
                           std::chrono::seconds(FOptions.RateWindowSeconds)},
      PerPeerConnections(FOptions), FOptions.MaxConnections,
      [](int socket) {
        if (socket >= 0) shutdown(socket, SHUT_RDWR);
      },
      [this](const std::string& peer, const std::string& why) {
        FLog.Write(peer, "", "", "closed: " + why);
      });
  unsigned flags = MHD_USE_POLL_INTERNAL_THREAD;
  if (found->ai_family == AF_INET6) flags |= MHD_USE_IPv6;
  // https: libmicrohttpd's TLS (GnuTLS) with the PEM texts; they must outlive the daemon.
  std::vector<MHD_OptionItem> tls;
  if (!FOptions.TlsCert.empty()) {
    FTlsCert = ReadPemFile(FOptions.TlsCert);
    FTlsKey = ReadPemFile(FOptions.TlsKey);
    flags |= MHD_USE_TLS;
    tls.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, FTlsCert.data()});
    tls.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, FTlsKey.data()});
  }
  tls.push_back({MHD_OPTION_END, 0, nullptr});
  FDaemon = MHD_start_daemon(
      flags, static_cast<uint16_t>(FOptions.Port), nullptr, nullptr, &THttpCallbacks::Access, this,
      MHD_OPTION_SOCK_ADDR, found->ai_addr, MHD_OPTION_THREAD_POOL_SIZE,
      static_cast<unsigned>(FOptions.Threads), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      static_cast<size_t>(FOptions.MaxHead), MHD_OPTION_CONNECTION_LIMIT,
      static_cast<unsigned>(AcceptedConnections(FOptions)), MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(FOptions.TimeoutSeconds), MHD_OPTION_NOTIFY_COMPLETED,
      &THttpCallbacks::Completed, this, MHD_OPTION_NOTIFY_CONNECTION, &THttpCallbacks::Connection,
      this, MHD_OPTION_ARRAY, tls.data(), MHD_OPTION_END);
  if (FDaemon == nullptr) {
    FWatch.reset();
    throw failure();
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(FDaemon, MHD_DAEMON_INFO_BIND_PORT);
  FPort = info == nullptr ? FOptions.Port : info->port;
  return FPort;
}

void THttpService::Start() { Bind(); }

void THttpService::Run() {
  std::unique_lock<std::mutex> lock(FStateLock);
  FStateChanged.wait(lock, [this] { return FStopRequested; });
}

void THttpService::Stop() {
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FStopRequested = true;
  }
  FStateChanged.notify_all();
  {
    std::lock_guard<std::mutex> guard(FStopLock);
    if (FWatch) FWatch->Stop();
    // Closes every connection; returns once the requests being handled have ended.
    if (FDaemon != nullptr) MHD_stop_daemon(FDaemon);
    FDaemon = nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(FStateLock);
    FStopped = true;
  }
  FStateChanged.notify_all();
}

bool THttpService::WaitStopped(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(FStateLock);
  return FStateChanged.wait_for(lock, timeout, [this] { return FStopped; });
}

std::string THttpService::BaseUrl() const {
  const bool ipv6 = FOptions.Host.find(':') != std::string::npos;
  const char* scheme = FOptions.TlsCert.empty() ? "http" : "https";
  return Format(ipv6 ? "%s://[%s]:%d" : "%s://%s:%d", scheme, FOptions.Host.c_str(),
                FPort.load());
}

std::string THttpService::Url() const { return BaseUrl() + kSoapPath; }

}  // namespace vorlen
