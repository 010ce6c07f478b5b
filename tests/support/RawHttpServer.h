// A tiny HTTP/1.1 server on 127.0.0.1 (ephemeral port) for transport tests and benchmarks:
// records each request byte for byte and answers with whatever the test's handler returns.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/RawSocket.h"

namespace vorlen::test {

struct TRawRequest {
  std::string Head;    // request line and header lines, up to and including the empty line
  std::string Body;    // Content-Length bytes (empty when the server does not keep bodies)
  int Connection = 0;  // 1 for the first accepted connection, 2 for the next, ...

  // Value of the first header with this name (case-insensitive), or empty.
  std::string Header(const std::string& name) const;
  std::string RequestLine() const { return Head.substr(0, Head.find("\r\n")); }
};

struct TRawReply {
  std::string Bytes;    // sent as they are
  bool Close = false;   // close the connection after sending
  bool Silent = false;  // send nothing; hold the connection until the client leaves
};

// Status line, Content-Type (when not empty), Content-Length and the body.
std::string HttpResponse(int status, const std::string& reason, const std::string& contentType,
                         const std::string& body);

class TRawHttpServer {
 public:
  using THandler = std::function<TRawReply(const TRawRequest& request)>;

  // record false: requests are answered but neither bodies nor requests are kept, so that
  // a long run (a benchmark) does not grow.
  explicit TRawHttpServer(THandler handler, bool record = true);
  TRawHttpServer(const TRawHttpServer&) = delete;
  TRawHttpServer& operator=(const TRawHttpServer&) = delete;
  ~TRawHttpServer();

  int Port() const { return FPort; }
  std::string URL(const std::string& path) const;
  std::vector<TRawRequest> Requests() const;
  int RequestCount() const { return FRequestCount.load(); }
  int Connections() const { return FConnections.load(); }

 private:
  void AcceptLoop();
  void Serve(TRawSocket socket, int connection);

  THandler FHandler;
  bool FRecord;
  TRawSocket FListener = kNoSocket;
  int FPort = 0;
  std::atomic<bool> FStopping{false};
  std::atomic<int> FConnections{0};
  std::atomic<int> FRequestCount{0};
  mutable std::mutex FLock;
  std::vector<TRawRequest> FRequests;
  // One per accepted connection; a finished one is reaped at the next accept, so that a long
  // run with many connections (a benchmark) keeps neither threads nor descriptors.
  struct TWorker {
    TRawSocket Socket = kNoSocket;
    std::thread Thread;
    std::unique_ptr<std::atomic<bool>> Done;
  };
  void ReapFinishedWorkers();
  std::vector<TWorker> FWorkers;
  std::thread FAcceptor;
};

// A handler that answers every request with the same bytes.
TRawHttpServer::THandler Always(std::string bytes);

// A loopback port that nobody listens on (bound, then closed).
int UnusedLoopbackPort();

// A loopback listener that never accepts: the system completes connections, nobody reads.
class TDeafListener {
 public:
  TDeafListener();
  TDeafListener(const TDeafListener&) = delete;
  TDeafListener& operator=(const TDeafListener&) = delete;
  ~TDeafListener();
  std::string URL(const std::string& path) const;

 private:
  TRawSocket FSocket = kNoSocket;
  int FPort = 0;
};

}  // namespace vorlen::test
