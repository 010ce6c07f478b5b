#include "DelayRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <string>

namespace vorlen::bench {

namespace {

using TClock = std::chrono::steady_clock;

int Loopback(int port, bool listening) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const auto* raw = reinterpret_cast<const sockaddr*>(&address);
  if (listening ? bind(fd, raw, sizeof address) != 0 || listen(fd, 64) != 0
                : connect(fd, raw, sizeof address) != 0) {
    close(fd);
    throw std::runtime_error("cannot reach loopback port " + std::to_string(port));
  }
  return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// One direction of a connection: a reader stamps each chunk as it arrives, a writer passes it on
// once its time has come.
class TDelayedPipe {
 public:
  TDelayedPipe(int from, int to, std::chrono::milliseconds delay)
      : FFrom(from), FTo(to), FDelay(delay) {
    FReader = std::thread([this] { Read(); });
    FWriter = std::thread([this] { Write(); });
  }
  ~TDelayedPipe() {
    FReader.join();
    FWriter.join();
  }

 private:
  struct TChunk {
    TClock::time_point Due;
    std::string Bytes;
  };
  void Read() {
    std::string buffer(256 * 1024, '\0');
    for (;;) {
      const ssize_t n = recv(FFrom, buffer.data(), buffer.size(), 0);
      std::lock_guard<std::mutex> guard(FLock);
      if (n <= 0) {
        FEnded = true;
        FChanged.notify_all();
        return;
      }
      FChunks.push_back({TClock::now() + FDelay, buffer.substr(0, static_cast<size_t>(n))});
      FChanged.notify_all();
    }
  }
  void Write() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      FChanged.wait(lock, [this] { return FEnded || !FChunks.empty(); });
      if (FChunks.empty()) break;
      TChunk chunk = std::move(FChunks.front());
      FChunks.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(chunk.Due);
      const bool sent = WriteAll(FTo, chunk.Bytes.data(), chunk.Bytes.size());
      lock.lock();
      if (!sent) break;
    }
    shutdown(FTo, SHUT_WR);  // the end travels on as well
    shutdown(FFrom, SHUT_RD);
  }

  int FFrom, FTo;
  std::chrono::milliseconds FDelay;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TChunk> FChunks;  // guarded by FLock
  bool FEnded = false;
  std::thread FReader, FWriter;
};

}  // namespace

struct TDelayRelay::TConnection {
  TConnection(int client, int server, std::chrono::milliseconds up, std::chrono::milliseconds down)
      : Fds{client, server}, Up(client, server, up), Down(server, client, down) {}
  // Ends both directions; the pipes' threads are joined, then the sockets closed.
  ~TConnection() {
    shutdown(Fds.Client, SHUT_RDWR);
    shutdown(Fds.Server, SHUT_RDWR);
  }
  struct TFds {
    int Client, Server;
    ~TFds() {
      close(Client);
      close(Server);
    }
  } Fds;
  TDelayedPipe Up, Down;
};

TDelayRelay::TDelayRelay(int targetPort, std::chrono::milliseconds delay, bool bothWays)
    : FTargetPort(targetPort), FDelay(delay), FBothWays(bothWays), FListener(Loopback(0, true)) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = ntohs(address.sin_port);
  FAcceptor = std::thread([this] { Accept(); });
}

TDelayRelay::~TDelayRelay() {
  FStopping = true;
  shutdown(FListener, SHUT_RDWR);
  FAcceptor.join();
  close(FListener);
  std::lock_guard<std::mutex> guard(FLock);
  FConnections.clear();
}

void TDelayRelay::Accept() {
  while (!FStopping) {
    pollfd waiting{FListener, POLLIN, 0};
    if (poll(&waiting, 1, 100) <= 0) continue;
    const int client = accept(FListener, nullptr, nullptr);
    if (client < 0) continue;
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int server = Loopback(FTargetPort, false);
    std::lock_guard<std::mutex> guard(FLock);
    FConnections.push_back(std::make_unique<TConnection>(
        client, server, FBothWays ? FDelay : std::chrono::milliseconds(0), FDelay));
  }
}

}  // namespace vorlen::bench
