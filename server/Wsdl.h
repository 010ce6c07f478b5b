// The WSDL 1.1 description of ISenderService that the service hands out, made from the
// registered contract (operations, parameters, actions).
#pragma once

#include <string>

namespace vorlen {

// soapAddress is the absolute URL of the SOAP address; it is written XML-escaped.
std::string SenderServiceWsdl(const std::string& soapAddress);

}  // namespace vorlen
