#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "support/RawSocket.h"

namespace vorlen::test {

namespace {

// Winsock wants starting once per process before the first socket.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
}

SOCKET Native(TRawSocket socket) { return static_cast<SOCKET>(socket); }

}  // namespace

TRawSocket LoopbackSocket(int& port, int backlog) {
  StartWinsock();
  const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(fd);
    throw std::runtime_error("bind failed");
  }
  int length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  if (backlog > 0 && ::listen(fd, backlog) != 0) {
    ::closesocket(fd);
    throw std::runtime_error("listen failed");
  }
  return static_cast<TRawSocket>(fd);
}

TRawSocket ConnectLoopback(int port, const char* from) {
  StartWinsock();
  const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) return kNoSocket;
  if (from != nullptr) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from, &source.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
      ::closesocket(fd);
      return kNoSocket;
    }
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(fd);
    return kNoSocket;
  }
  return static_cast<TRawSocket>(fd);
}

TRawSocket AcceptConnection(TRawSocket listener, int waitMs) {
  WSAPOLLFD entry{Native(listener), POLLRDNORM, 0};
  if (::WSAPoll(&entry, 1, waitMs) <= 0) return kNoSocket;
  const SOCKET socket = ::accept(Native(listener), nullptr, nullptr);
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<TRawSocket>(socket);
}

void SetReceiveWait(TRawSocket socket, int waitMs) {
  const DWORD wait = static_cast<DWORD>(waitMs);
  ::setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait),
               sizeof wait);
}

int64_t ReceiveSome(TRawSocket socket, char* buffer, size_t size) {
  const int n = ::recv(Native(socket), buffer, static_cast<int>(size), 0);
  if (n < 0 && ::WSAGetLastError() == WSAETIMEDOUT) return kWaitOver;
  return n;
}

bool SendAll(TRawSocket socket, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n =
        ::send(Native(socket), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void ShutdownSocket(TRawSocket socket) { ::shutdown(Native(socket), SD_BOTH); }

void EndSending(TRawSocket socket) { ::shutdown(Native(socket), SD_SEND); }

bool PeerClosed(TRawSocket socket) {
  WSAPOLLFD entry{Native(socket), POLLRDNORM, 0};
  const int ready = ::WSAPoll(&entry, 1, 0);
  if (ready < 0) return true;
  if (ready == 0) return false;
  char byte;
  return ::recv(Native(socket), &byte, 1, MSG_PEEK) <= 0;
}

void CloseSocket(TRawSocket socket) { ::closesocket(Native(socket)); }

}  // namespace vorlen::test
