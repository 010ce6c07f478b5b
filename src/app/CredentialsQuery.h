// The credentials question of a 401 (server) or 407 (proxy) answer, the same in every window: the
// user name, then the password, each in a text box of the window's own.
#pragma once

#include <functional>
#include <string>

namespace vorlen {

// One text box: caption, prompt, the value in the field (receives the answer), whether what is
// typed is hidden. False when cancelled.
using TAskText = std::function<bool(const std::string& caption, const std::string& prompt,
                                    std::string& value, bool secret)>;

// Asks for the user name (starting from userName) and the password; both change only when both
// boxes were answered.
bool CredentialsQuery(const TAskText& ask, bool proxy, std::string& userName,
                      std::string& password);

}  // namespace vorlen
