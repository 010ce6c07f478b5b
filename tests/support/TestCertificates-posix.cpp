#include "support/TestCertificates.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace vorlen::test {

namespace {

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
    throw std::runtime_error("failed: " + command);
}

}  // namespace

TTestCertificates::TTestCertificates(const std::string& dir) : Dir(dir) {
  const std::string d = "cd '" + dir + "' && ";
  const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  Run(d + "openssl req -x509 " + key +
      " -keyout self.key -out self.pem -days 30 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1");
  Run(d + "openssl req -x509 " + key +
      " -keyout other.key -out other.pem -days 30 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1");
  Run(d + "openssl req -x509 " + key + " -keyout ca.key -out ca.pem -days 30 -subj '/CN=Vorlen Test CA'");
  Run(d + "openssl req " + key + " -keyout leaf.key -out leaf.csr -subj /CN=127.0.0.1");
  // Leaves signed by the CA: for this address, for another host name, and expired.
  const std::pair<const char*, const char*> leaves[] = {
      {"signed", "-days 30 -extfile ip.ext"},
      {"wronghost", "-days 30 -extfile dns.ext"},
      {"expired", "-days -1 -extfile ip.ext"}};
  Run(d + "echo subjectAltName=IP:127.0.0.1 > ip.ext && echo subjectAltName=DNS:evil.example > dns.ext");
  for (const auto& [name, options] : leaves)
    Run(d + "openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out " +
        name + ".pem " + options);
}

std::string TTestCertificates::Fingerprint(const std::string& name) const {
  const std::string command =
      "openssl x509 -noout -fingerprint -sha256 -in '" + Pem(name) + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::string();
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  pclose(pipe);
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return std::string();
  text = text.substr(equals + 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace vorlen::test
