#include "server/HttpService.h"

#include <httplib.h>

#include <charconv>
#include <chrono>
#include <cstdint>

#include "platform/Paths.h"
#include "runtime/Format.h"
#include "server/Wsdl.h"

namespace vorlen {

const char* const kSoapPath = "/FileUploader/Sender_Server.dll/soap/ISenderService";
const char* const kWsdlPath = "/FileUploader/Sender_Server.dll/wsdl/ISenderService";

namespace {

// httplib routes by regular expression; the paths hold dots.
std::string ExactPattern(const std::string& path) {
  std::string pattern;
  for (char c : path) {
    if (c == '.') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

std::string Peer(const httplib::Request& request) {
  const bool ipv6 = request.remote_addr.find(':') != std::string::npos;
  return Format(ipv6 ? "[%s]:%d" : "%s:%d", request.remote_addr.c_str(), request.remote_port);
}

// The Content-Length the client announced: 0 when there is none or it is not a number, the
// largest value when it does not even fit in 64 bits.
uint64_t DeclaredLength(const httplib::Request& request) {
  const std::string declared = request.get_header_value("Content-Length");
  uint64_t length = 0;
  const char* end = declared.data() + declared.size();
  const auto [ptr, ec] = std::from_chars(declared.data(), end, length);
  if (ec == std::errc::result_out_of_range) return UINT64_MAX;
  return ec == std::errc() && ptr == end ? length : 0;
}

}  // namespace

THttpService::THttpService(const TServiceOptions& options,
                           std::function<void(const std::string&)> logSink)
    : FOptions(options),
      FLog(std::move(logSink)),
      FSenderServer(FsPathFromUtf8(options.Root), ServiceLimitsOf(options)),
      FEndpoint(FSenderServer),
      FHttp(std::make_unique<httplib::Server>()) {
  FSenderServer.OnRefusal = [this](const std::string& session, const std::string& operation,
                                   const std::string& reason) {
    FLog.Write("-", session, operation, "false: " + TRequestLog::Field(reason));
  };
  const size_t threads = static_cast<size_t>(FOptions.Threads);
  FHttp->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  FHttp->set_read_timeout(FOptions.TimeoutSeconds, 0);
  FHttp->set_write_timeout(FOptions.TimeoutSeconds, 0);
  FHttp->set_payload_max_length(static_cast<size_t>(FOptions.MaxBody));
  // Answers go out as a header write and a body write; with Nagle's algorithm the second waits
  // for the client's delayed acknowledgement, costing tens of milliseconds per call.
  FHttp->set_tcp_nodelay(true);
  // A client keeps its connection for a whole send; an idle one gives its worker back after
  // the keep-alive time-out, short because the pool is small and a waiting client gets no
  // answer until a worker is free.
  FHttp->set_keep_alive_max_count(100);
  FHttp->set_keep_alive_timeout(FOptions.KeepAliveSeconds);
  // httplib's default also sets SO_REUSEPORT, which would let a second service bind the same
  // port and take half of the requests into another root. A taken port must be an error.
  FHttp->set_socket_options([](auto sock) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
#else
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
  });

  // A body announced larger than the limit is refused before any of it is read; left to
  // httplib, the whole announced length would be read and thrown away first, holding a worker
  // for as long as the client cares to send.
  FHttp->set_pre_routing_handler([this](const httplib::Request& request,
                                        httplib::Response& response) {
    if (DeclaredLength(request) <= static_cast<uint64_t>(FOptions.MaxBody)) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    RefuseOversized(request, response);
    return httplib::Server::HandlerResponse::Handled;
  });

  FHttp->Post(ExactPattern(kSoapPath), [this](const httplib::Request& request,
                                              httplib::Response& response,
                                              const httplib::ContentReader& reader) {
    // The body is collected up to the limit and no further, whatever the client announced.
    // Room for the announced length (already checked against the limit) is taken at once, so
    // that a part's bytes are not copied again each time the buffer grows.
    TMemoryStream body;
    if (const uint64_t declared = DeclaredLength(request);
        declared > 0 && declared <= static_cast<uint64_t>(FOptions.MaxBody)) {
      body.SetSize(static_cast<int64_t>(declared));
    }
    int64_t received = 0;
    bool tooLarge = false;
    const bool complete = reader([&](const char* data, size_t length) {
      if (received + static_cast<int64_t>(length) > FOptions.MaxBody) {
        tooLarge = true;
        return false;
      }
      body.WriteBuffer(data, static_cast<int64_t>(length));
      received += static_cast<int64_t>(length);
      return true;
    });
    // A body shorter than announced leaves no stale bytes behind it.
    body.SetSize(received);
    if (tooLarge || (!complete && response.status == 413)) {
      RefuseOversized(request, response);
      return;
    }
    if (!complete) {
      response.status = 400;
      response.set_header("Connection", "close");
      response.set_content("Incomplete request body\n", "text/plain; charset=utf-8");
      FLog.Write(Peer(request), "", "", "HTTP 400");
      return;
    }
    body.SetPosition(0);
    TSoapReply reply = FEndpoint.Handle(request.get_header_value("Content-Type"),
                                        request.get_header_value("SOAPAction"), body);
    response.status = reply.Status;
    response.set_content(std::move(reply.Body), reply.ContentType.c_str());
    FLog.Write(Peer(request), reply.Session, reply.Operation, reply.Outcome);
  });

  FHttp->Get(ExactPattern(kWsdlPath), [this](const httplib::Request& request,
                                             httplib::Response& response) {
    response.set_content(SenderServiceWsdl(Url()), "text/xml; charset=\"utf-8\"");
    FLog.Write(Peer(request), "", "WSDL", "200");
  });

  // Unknown paths, methods and requests httplib refuses itself (413, 400, ...).
  FHttp->set_error_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;  // an answer of the handlers above, logged there
    response.set_content(Format("HTTP %d\n", response.status), "text/plain; charset=utf-8");
    FLog.Write(Peer(request), "", TRequestLog::Field(request.method + " " + request.path, 120),
               Format("HTTP %d", response.status));
  });
  FHttp->set_exception_handler([this](const httplib::Request& request,
                                      httplib::Response& response, std::exception_ptr error) {
    std::string text = "unknown error";
    try {
      if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
      text = e.what();
    } catch (...) {
    }
    response.status = 500;
    response.set_content("Internal service error\n", "text/plain; charset=utf-8");
    FLog.Write(Peer(request), "", request.path, "HTTP 500: " + text);
  });
}

void THttpService::RefuseOversized(const httplib::Request& request,
                                   httplib::Response& response) {
  response.status = 413;
  // The rest of the body is never read, so the connection cannot carry another request.
  response.set_header("Connection", "close");
  response.set_content(Format("Request body larger than %lld bytes\n",
                              static_cast<long long>(FOptions.MaxBody)),
                       "text/plain; charset=utf-8");
  FLog.Write(Peer(request), "", "", "HTTP 413");
}

THttpService::~THttpService() {
  Stop();
  if (FThread.joinable()) FThread.join();
}

int THttpService::Bind() {
  if (FOptions.Port == 0) {
    FPort = FHttp->bind_to_any_port(FOptions.Host);
  } else {
    FPort = FHttp->bind_to_port(FOptions.Host, FOptions.Port) ? FOptions.Port : -1;
  }
  if (FPort <= 0) {
    throw Exception(Format("Cannot listen on %s port %d", FOptions.Host.c_str(), FOptions.Port));
  }
  return FPort;
}

void THttpService::Run() { FHttp->listen_after_bind(); }

void THttpService::Start() {
  Bind();
  FRunEnded = false;
  FThread = std::thread([this] {
    Run();
    FRunEnded = true;
  });
  while (!FHttp->is_running() && !FRunEnded) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void THttpService::Stop() { FHttp->stop(); }

std::string THttpService::BaseUrl() const {
  const bool ipv6 = FOptions.Host.find(':') != std::string::npos;
  return Format(ipv6 ? "http://[%s]:%d" : "http://%s:%d", FOptions.Host.c_str(), FPort);
}

std::string THttpService::Url() const { return BaseUrl() + kSoapPath; }

}  // namespace vorlen
