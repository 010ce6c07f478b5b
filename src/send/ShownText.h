// Text that came from the network (a session id, a fault or status text inside an error) made
// safe to show on a terminal or in a box: a peer must not be able to drive the terminal, reorder
// what the operator reads, or flood the screen.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace vorlen {

// The longest text shown, in bytes: the size of the transport's status-text buffer.
constexpr size_t kShownTextLimit = 4096;

// text with every C0 and C1 control character (DEL included), every bidirectional embedding,
// override and isolate, and every byte that is not valid UTF-8 replaced by U+FFFD; cut after
// whole characters and ended with "…" when the result would exceed kShownTextLimit bytes.
std::string ShownText(std::string_view text);

// What an error says, made safe to show; "Unknown exception" for anything not an exception.
std::string ShownErrorText(std::exception_ptr error);

}  // namespace vorlen
