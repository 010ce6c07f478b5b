#include "support/LoopbackClient.h"

namespace vorlen::test {

TLoopbackClient::TLoopbackClient(int port, int waitMs, const char* from)
    : FSocket(ConnectLoopback(port, from)) {
  if (Connected()) SetReceiveWait(FSocket, waitMs);
}

TLoopbackClient::~TLoopbackClient() {
  if (Connected()) CloseSocket(FSocket);
}

bool TLoopbackClient::Send(const std::string& bytes) {
  return Connected() && SendAll(FSocket, bytes);
}

void TLoopbackClient::EndSending() {
  if (Connected()) test::EndSending(FSocket);
}

std::string TLoopbackClient::Receive() {
  char block[512];
  const int64_t n = Connected() ? ReceiveSome(FSocket, block, sizeof block) : -1;
  return n > 0 ? std::string(block, static_cast<size_t>(n)) : std::string();
}

std::string TLoopbackClient::ReceiveAll() {
  std::string all;
  for (std::string block; !(block = Receive()).empty();) all += block;
  return all;
}

bool TLoopbackClient::ReceiveUntil(const std::string& text) {
  std::string received;
  while (received.find(text) == std::string::npos) {
    const std::string block = Receive();
    if (block.empty()) return false;
    received += block;
  }
  return true;
}

}  // namespace vorlen::test
