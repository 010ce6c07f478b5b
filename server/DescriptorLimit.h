// The open-file limit of the service's process: how many descriptors its settings need, and
// raising the soft limit to the hard one when that is too low (systemd starts services at
// 1024, a shell often too).
#pragma once

#include <cstdint>

#include "server/ServiceOptions.h"

namespace vorlen {

// Descriptors for every connection allowed at once, what each worker holds while it handles a
// request (a session's folders, an attachment, a part or merged file, an archive), and the
// process's own (listening socket, event queue, standard streams).
int64_t DescriptorsNeeded(const TServiceOptions& options);

// Raises the soft limit to the hard one when it is below needed, and returns the limit then in
// force.
int64_t RaiseDescriptorLimit(int64_t needed);

}  // namespace vorlen
