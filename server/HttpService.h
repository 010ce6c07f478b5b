// vorlen-service's HTTP side on cpp-httplib: the SOAP address (POST), the WSDL address (GET),
// 404 for everything else, one log line per request.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "server/RequestLog.h"
#include "server/SenderServer.h"
#include "server/ServiceOptions.h"
#include "server/SoapEndpoint.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}

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
  ~THttpService();  // stops and joins

  // Binds the listening socket (port 0 picks a free one) and returns the port. Raises Exception
  // when the address cannot be bound.
  int Bind();
  // Serves until Stop(); Bind() must have succeeded.
  void Run();
  // Bind() and Run() on a thread of its own; returns once the service accepts connections.
  void Start();
  // Ends Run() (or the thread of Start()); safe from any thread, and more than once.
  void Stop();

  int Port() const { return FPort; }
  // http://HOST:PORT + kSoapPath
  std::string Url() const;
  TSenderServer& Server() { return FSenderServer; }

 private:
  std::string BaseUrl() const;
  void RefuseOversized(const httplib::Request& request, httplib::Response& response);

  TServiceOptions FOptions;
  TRequestLog FLog;
  TSenderServer FSenderServer;
  TSoapEndpoint FEndpoint;
  std::unique_ptr<httplib::Server> FHttp;
  std::thread FThread;
  std::atomic<bool> FRunEnded{false};
  int FPort = -1;
};

}  // namespace vorlen
