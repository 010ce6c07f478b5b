// Certificates made at test time with the openssl program, for https tests on loopback: a
// self-signed one and another for 127.0.0.1, a test CA, and leaves signed by it for 127.0.0.1,
// for another host name ("evil.example") and an expired one. Keys are NAME.key, certificates
// NAME.pem in Dir (leaves share leaf.key).
#pragma once

#include <string>

namespace vorlen::test {

struct TTestCertificates {
  // Raises std::runtime_error when openssl fails.
  explicit TTestCertificates(const std::string& dir);

  std::string Pem(const std::string& name) const { return Dir + name + ".pem"; }
  std::string Key(const std::string& name) const {
    return Dir + (name == "self" || name == "other" || name == "ca" ? name : "leaf") + ".key";
  }
  // "AB:CD:…" as the openssl program prints it, computed apart from the code under test.
  std::string Fingerprint(const std::string& name) const;

  std::string Dir;  // ends in a separator
};

}  // namespace vorlen::test
