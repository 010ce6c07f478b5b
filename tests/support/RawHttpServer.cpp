#include "support/RawHttpServer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace vorlen::test {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string TRawRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name) + ":";
  size_t at = Head.find("\r\n");
  while (at != std::string::npos && at + 2 < Head.size()) {
    const size_t begin = at + 2;
    const size_t end = Head.find("\r\n", begin);
    if (end == std::string::npos) break;
    const std::string line = Head.substr(begin, end - begin);
    if (Lower(line.substr(0, wanted.size())) == wanted) {
      size_t value = wanted.size();
      while (value < line.size() && line[value] == ' ') ++value;
      return line.substr(value);
    }
    at = end;
  }
  return std::string();
}

std::string HttpResponse(int status, const std::string& reason, const std::string& contentType,
                         const std::string& body) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  if (!contentType.empty()) text += "Content-Type: " + contentType + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  return text;
}

TRawHttpServer::TRawHttpServer(THandler handler, bool record)
    : FHandler(std::move(handler)), FRecord(record) {
  FListener = LoopbackSocket(FPort, 16);
  FAcceptor = std::thread([this] { AcceptLoop(); });
}

TRawHttpServer::~TRawHttpServer() {
  FStopping = true;
  FAcceptor.join();
  CloseSocket(FListener);
  {
    std::lock_guard<std::mutex> lock(FLock);
    for (TWorker& worker : FWorkers) ShutdownSocket(worker.Socket);
  }
  for (TWorker& worker : FWorkers) {
    worker.Thread.join();
    CloseSocket(worker.Socket);
  }
}

std::string TRawHttpServer::URL(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::vector<TRawRequest> TRawHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRequests;
}

void TRawHttpServer::AcceptLoop() {
  while (!FStopping) {
    const TRawSocket socket = AcceptConnection(FListener, kWaitSliceMs);
    if (socket == kNoSocket) continue;
    SetReceiveWait(socket, kWaitSliceMs);
    const int connection = ++FConnections;
    ReapFinishedWorkers();
    std::lock_guard<std::mutex> lock(FLock);
    TWorker worker;
    worker.Socket = socket;
    worker.Done = std::make_unique<std::atomic<bool>>(false);
    std::atomic<bool>* done = worker.Done.get();
    worker.Thread = std::thread([this, socket, connection, done] {
      Serve(socket, connection);
      *done = true;
    });
    FWorkers.push_back(std::move(worker));
  }
}

void TRawHttpServer::ReapFinishedWorkers() {
  std::vector<TWorker> finished;
  {
    std::lock_guard<std::mutex> lock(FLock);
    auto firstFinished = std::stable_partition(FWorkers.begin(), FWorkers.end(),
                                               [](const TWorker& w) { return !*w.Done; });
    std::move(firstFinished, FWorkers.end(), std::back_inserter(finished));
    FWorkers.erase(firstFinished, FWorkers.end());
  }
  for (TWorker& worker : finished) {
    worker.Thread.join();
    CloseSocket(worker.Socket);
  }
}

void TRawHttpServer::Serve(TRawSocket socket, int connection) {
  std::string pending;
  char buffer[65536];
  auto fill = [&]() {
    int64_t n;
    while ((n = ReceiveSome(socket, buffer, sizeof buffer)) == kWaitOver)
      if (FStopping) return false;
    if (n <= 0) return false;
    pending.append(buffer, static_cast<size_t>(n));
    return true;
  };
  for (;;) {
    size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos)
      if (!fill()) {
        ShutdownSocket(socket);
        return;
      }
    TRawRequest request;
    request.Connection = connection;
    request.Head = pending.substr(0, headEnd + 4);
    pending.erase(0, headEnd + 4);
    size_t remaining = static_cast<size_t>(std::atoll(request.Header("Content-Length").c_str()));
    while (remaining > 0) {
      if (pending.empty() && !fill()) break;
      const size_t take = std::min(remaining, pending.size());
      if (FRecord) request.Body.append(pending, 0, take);
      pending.erase(0, take);
      remaining -= take;
    }
    const TRawReply reply = FHandler(request);
    ++FRequestCount;
    if (FRecord) {
      std::lock_guard<std::mutex> lock(FLock);
      FRequests.push_back(request);
    }
    if (remaining > 0) break;  // the client went away in the middle of the body
    if (reply.Silent) {
      while (fill()) pending.clear();
      break;
    }
    if (!SendAll(socket, reply.Bytes) || reply.Close) break;
  }
  // Closed only after this thread is joined (at the next accept or by the destructor), so that
  // no descriptor number is reused while the destructor may still shut it down.
  ShutdownSocket(socket);
}

TRawHttpServer::THandler Always(std::string bytes) {
  return [bytes = std::move(bytes)](const TRawRequest&) { return TRawReply{bytes}; };
}

int UnusedLoopbackPort() {
  int port = 0;
  CloseSocket(LoopbackSocket(port, 0));
  return port;
}

TDeafListener::TDeafListener() { FSocket = LoopbackSocket(FPort, 4); }

TDeafListener::~TDeafListener() { CloseSocket(FSocket); }

std::string TDeafListener::URL(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

}  // namespace vorlen::test
