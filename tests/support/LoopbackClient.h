// A raw client connection to a loopback port, for requests no well-behaved client would send:
// the bytes go out exactly as given, the answer comes back as it arrives.
#pragma once

#include <string>

#include "support/RawSocket.h"

namespace vorlen::test {

class TLoopbackClient {
 public:
  // Connects to 127.0.0.1:port, from the loopback address from when given; a receive gives up
  // after waitMs without data.
  explicit TLoopbackClient(int port, int waitMs = 10000, const char* from = nullptr);
  ~TLoopbackClient();
  TLoopbackClient(const TLoopbackClient&) = delete;
  TLoopbackClient& operator=(const TLoopbackClient&) = delete;

  bool Connected() const { return FSocket != kNoSocket; }
  bool Send(const std::string& bytes);
  void EndSending();
  // The next block of the answer; empty at its end or when none came within the wait.
  std::string Receive();
  // Everything up to the peer's close.
  std::string ReceiveAll();
  // Receives until text has come (true), the wait ran out or the peer closed (false); what came
  // with it is consumed.
  bool ReceiveUntil(const std::string& text);
  // True once the peer has closed the connection (not merely stayed silent).
  bool ClosedByPeer() { return !Connected() || PeerClosed(FSocket); }

 private:
  TRawSocket FSocket;
};

}  // namespace vorlen::test
