// A small registry store: open a key (creating it), read and write string values.
// Every failure is an ERegistryException; callers that must not fail catch it.
#pragma once

#include <memory>
#include <string>

#include "runtime/Exception.h"

namespace vorlen {

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// An open key; closed when destroyed.
class IRegistryKey {
 public:
  virtual ~IRegistryKey() = default;
  // The value's string data; empty when the value does not exist.
  virtual std::string ReadString(const std::string& name) = 0;
  // Writes a string (REG_SZ) value, creating or replacing it.
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
};

class IRegistryStore {
 public:
  virtual ~IRegistryStore() = default;
  // Opens the key at path ("\A\B" or "A\B") with full access, creating missing keys.
  virtual std::unique_ptr<IRegistryKey> OpenKey(const std::string& path) = 0;
  // Opens the key at path for reading only (what a user without administrator rights may do
  // under HKEY_LOCAL_MACHINE); empty when the key does not exist.
  virtual std::unique_ptr<IRegistryKey> OpenKeyForReading(const std::string& path) = 0;
};

// HKEY_LOCAL_MACHINE on Windows. Elsewhere there is no machine registry: every OpenKey fails.
std::unique_ptr<IRegistryStore> LocalMachineRegistry();

}  // namespace vorlen
