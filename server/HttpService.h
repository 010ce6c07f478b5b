// vorlen-service's HTTP side on GNU libmicrohttpd: the SOAP address (POST), the WSDL address
// (GET), 404 for everything else, one log line per request. Event-driven workers, so a slow or
// idle connection holds a socket but never a worker; every connection's memory, count and time
// are bounded (see TServiceOptions).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/ConnectionWatch.h"
#include "server/PeerAddress.h"
#include "server/RequestLog.h"
#include "server/SenderServer.h"
#include "server/ServiceOptions.h"
#include "server/SoapEndpoint.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace vorlen {

extern const char* const kSoapPath;  // "/FileUploader/Sender_Server.dll/soap/ISenderService"
extern const char* const kWsdlPath;  // "/FileUploader/Sender_Server.dll/wsdl/ISenderService"

class THttpService {
 public:
  // Creates the root folder. logSink receives the request log lines (unset: standard error).
  explicit THttpService(const TServiceOptions& options,
                        std::function<void(const std::string&)> logSink = nullptr);
  THttpService(const THttpService&) = delete;
  THttpService& operator=(const THttpService&) = delete;
  ~THttpService();  // stops, waiting for busy requests

  // Binds the listening socket (port 0 picks a free one), starts serving and returns the port.
  // Raises Exception when the address cannot be bound.
  int Bind();
  // Blocks until Stop() is called; Bind() must have succeeded.
  void Run();
  // Bind(); the service serves on threads of its own.
  void Start();
  // Stops accepting, closes every connection and waits for the requests being handled; safe
  // from any thread but a request's own, and more than once.
  void Stop();
  // Waits up to timeout for a Stop() begun elsewhere to finish; false when requests are still
  // being handled then.
  bool WaitStopped(std::chrono::milliseconds timeout);

  int Port() const { return FPort; }
  // http://HOST:PORT + kSoapPath
  std::string Url() const;
  TSenderServer& Server() { return FSenderServer; }

 private:
  struct TRequest;
  enum TRoute { rtSoap, rtWsdl, rtNotFound };

  // The server's callbacks, each handing over to the members below.
  friend struct THttpCallbacks;

  // First call of a request, once its head is in: route, and refuse what must not be read.
  bool BeginRequest(MHD_Connection* connection, const char* url, const char* method,
                    void** context);
  bool ReceiveBody(MHD_Connection* connection, TRequest& request, const char* data, size_t size);
  // A body over its limit: 413, or the envelope's own fault.
  bool RefuseBody(MHD_Connection* connection, TRequest& request);
  bool ServeSoap(MHD_Connection* connection, TRequest& request);
  bool ServeWsdl(MHD_Connection* connection, TRequest& request);
  bool Answer(MHD_Connection* connection, int status, const std::string& contentType,
              const std::string& body, bool close);
  // A plain-text refusal that ends the connection, logged.
  // The header trusted proxies name the client in.
  const char* ForwardedHeader() const {
    return FOptions.StandardForwarded ? "Forwarded" : "X-Forwarded-For";
  }
  bool Refuse(MHD_Connection* connection, const std::string& peer, int status,
              const std::string& text);

  std::string TooLargeText() const;
  // Reads and drops bytes of a body that is answered with a refusal once it has ended; false
  // (the connection closed) once more than a body's limit was dropped.
  bool Drop(TRequest& request, int64_t bytes);
  std::string BaseUrl() const;

  TServiceOptions FOptions;
  std::string FTlsCert, FTlsKey;  // PEM texts of an https service
  TPeerRules FPeers;
  TRequestLog FLog;
  TSenderServer FSenderServer;
  TSoapEndpoint FEndpoint;
  std::string FSpoolFolder;            // where bodies beyond a small size are held
  std::atomic<int64_t> FHeldBytes{0};  // body bytes held by every request at once
  std::unique_ptr<TConnectionWatch> FWatch;
  MHD_Daemon* FDaemon = nullptr;
  // Known only once the daemon, whose workers read it, has started.
  std::atomic<int> FPort{-1};

  std::mutex FStopLock;  // held while the daemon stops
  std::mutex FStateLock;
  std::condition_variable FStateChanged;
  bool FStopRequested = false;
  bool FStopped = false;
};

}  // namespace vorlen
