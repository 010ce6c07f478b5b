#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/RawSocket.h"

namespace vorlen::test {

namespace {

// The transport honours the system's proxy variables; a proxy from the environment must not
// carry these loopback requests anywhere else.
const bool kSystemProxyCleared = [] {
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    ::unsetenv(name);
  return true;
}();

}  // namespace

TRawSocket LoopbackSocket(int& port, int backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    throw std::runtime_error("bind failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  if (backlog > 0 && ::listen(fd, backlog) != 0) {
    ::close(fd);
    throw std::runtime_error("listen failed");
  }
  return fd;
}

TRawSocket ConnectLoopback(int port, const char* from) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return kNoSocket;
  if (from != nullptr) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from, &source.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
      ::close(fd);
      return kNoSocket;
    }
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return kNoSocket;
  }
  return fd;
}

TRawSocket AcceptConnection(TRawSocket listener, int waitMs) {
  pollfd entry{static_cast<int>(listener), POLLIN, 0};
  if (::poll(&entry, 1, waitMs) <= 0) return kNoSocket;
  const int socket = ::accept(static_cast<int>(listener), nullptr, nullptr);
  return socket < 0 ? kNoSocket : socket;
}

void SetReceiveWait(TRawSocket socket, int waitMs) {
  timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
  ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

int64_t ReceiveSome(TRawSocket socket, char* buffer, size_t size) {
  const ssize_t n = ::recv(static_cast<int>(socket), buffer, size, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return kWaitOver;
  return n;
}

bool SendAll(TRawSocket socket, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n =
        ::send(static_cast<int>(socket), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void ShutdownSocket(TRawSocket socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void EndSending(TRawSocket socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

bool PeerClosed(TRawSocket socket) {
  char byte;
  const ssize_t n = ::recv(static_cast<int>(socket), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

void CloseSocket(TRawSocket socket) { ::close(static_cast<int>(socket)); }

}  // namespace vorlen::test
