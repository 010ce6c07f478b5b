// The few socket calls the raw test server and the loopback client need, on POSIX sockets or on
// Winsock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlen::test {

using TRawSocket = intptr_t;
constexpr TRawSocket kNoSocket = -1;

// A TCP socket bound to 127.0.0.1 on an ephemeral port (returned in port), listening with
// backlog when it is above 0. Raises std::runtime_error.
TRawSocket LoopbackSocket(int& port, int backlog);
// Closing or shutting down a socket does not wake a thread blocked on it everywhere (not under
// Wine), so the server waits in slices and looks whether it is stopping in between.
constexpr int kWaitSliceMs = 100;
constexpr int64_t kWaitOver = -2;

// A connection to 127.0.0.1:port, from the loopback address from when given (all of
// 127.0.0.0/8 is this host's, so a test can be several peers); kNoSocket when none could be made.
TRawSocket ConnectLoopback(int port, const char* from = nullptr);
// A new connection, or kNoSocket when none came within waitMs or the listener failed.
TRawSocket AcceptConnection(TRawSocket listener, int waitMs);
// Makes ReceiveSome on socket give up after waitMs without data.
void SetReceiveWait(TRawSocket socket, int waitMs);
// Bytes received, 0 at the end, kWaitOver when the wait ran out, another value below 0 on an
// error.
int64_t ReceiveSome(TRawSocket socket, char* buffer, size_t size);
bool SendAll(TRawSocket socket, const std::string& bytes);
void ShutdownSocket(TRawSocket socket);
// Ends the sending side only: the peer reads the end of the data and may still answer.
void EndSending(TRawSocket socket);
// True once the peer has closed the connection (not merely stayed silent); does not wait and
// leaves data that arrived unread.
bool PeerClosed(TRawSocket socket);
void CloseSocket(TRawSocket socket);

}  // namespace vorlen::test
