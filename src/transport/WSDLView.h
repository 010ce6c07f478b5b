// The service-description binding shared by the proxy and its transport.
#pragma once

#include <string>

namespace vorlen {

// This client never loads descriptions; the view only records where one would come from.
struct TWSDLView {
  std::string Location;
  std::string Service;
  std::string Port;
};

}  // namespace vorlen
