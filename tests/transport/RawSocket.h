// The few socket calls the raw test server needs, on POSIX sockets or on Winsock.
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
// kNoSocket when the listener was shut down.
TRawSocket AcceptConnection(TRawSocket listener);
// Bytes received, 0 at the end, below 0 on an error.
int64_t ReceiveSome(TRawSocket socket, char* buffer, size_t size);
bool SendAll(TRawSocket socket, const std::string& bytes);
void ShutdownSocket(TRawSocket socket);
void CloseSocket(TRawSocket socket);

}  // namespace vorlen::test
