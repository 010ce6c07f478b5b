// The process-wide registry of remotable interfaces: what the message writer, the transport and
// the proxy need to know about an operation (names, wire order, types, namespace, action).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorlen {

enum class TParamType { ptString, ptInteger, ptBoolean, ptAttachment };

struct TParamInfo {
  std::string Name;  // element name on the wire
  TParamType Type;
};

struct TIntfMethEntry {
  std::string Name;                // operation name, also the element name on the wire
  int Pos;                         // index in TIntfMetaData::MDA (0 = first operation)
  std::vector<TParamInfo> Params;  // in wire order
  TParamType ResultType;           // ptString or ptBoolean
};

struct TIntfMetaData {
  std::string Name;                 // "ISenderService"
  std::string IID;                  // registry form with braces, upper case
  std::string Namespace;            // namespace of the operation elements
  std::vector<TIntfMethEntry> MDA;  // operations in slot order

  // Registered as the contract states them; nothing here reads them.
  std::string UnitName;  // "SenderService"
  std::string Encoding;  // the writer always sends UTF-8
};

// Index of the operation named methodName in intf.MDA (exact case), or -1.
int IndexOfMethod(const TIntfMetaData& intf, const std::string& methodName);

// Entries are never removed or replaced, so a pointer returned by GetInterfaceInfo stays valid
// for the life of the registry. Every member takes the registry's own lock.
class TInvokableClassRegistry {
 public:
  TInvokableClassRegistry() = default;
  TInvokableClassRegistry(const TInvokableClassRegistry&) = delete;
  TInvokableClassRegistry& operator=(const TInvokableClassRegistry&) = delete;

  // Raises Exception when the IID is empty or already registered, or when an operation's Pos
  // does not match its index.
  void RegisterInterface(const TIntfMetaData& info);
  // actionTemplate may hold "%operationName%"; raises Exception for an unregistered IID.
  void RegisterDefaultSOAPAction(const std::string& IID, const std::string& actionTemplate);

  // nullptr when unknown.
  const TIntfMetaData* GetInterfaceInfo(const std::string& IID) const;
  bool HasRegInterface(const std::string& IID) const { return GetInterfaceInfo(IID) != nullptr; }
  // The registered template with every "%operationName%" replaced by methodName; without a
  // template, the interface namespace + "#" + methodName. Raises Exception when methIndex is not
  // an operation of intf or names a different operation than methodName.
  std::string GetActionURIOfInfo(const TIntfMetaData& intf, const std::string& methodName,
                                 int methIndex) const;
  // Empty when the IID is unknown.
  std::string GetActionTemplate(const std::string& IID) const;

  // The registry's namespace lookup by interface; nothing here calls it.
  // Empty when the IID is unknown.
  std::string GetNamespaceByIID(const std::string& IID) const;

 private:
  mutable std::mutex FLock;
  std::map<std::string, std::unique_ptr<TIntfMetaData>> FInterfaces;
  std::map<std::string, std::string> FActions;
};

// The registry of the process.
TInvokableClassRegistry& InvRegistry();

}  // namespace vorlen
