// Requests to the service written out by hand, so that what a test or benchmark sends never
// comes from the client's own envelope writer.
#pragma once

#include <string>

namespace vorlen::test {

// An RPC/encoded SOAP 1.1 request for operation of ISenderService with params as its body.
std::string Envelope(const std::string& operation, const std::string& params);
// One string parameter element.
std::string Str(const std::string& name, const std::string& value);

}  // namespace vorlen::test
