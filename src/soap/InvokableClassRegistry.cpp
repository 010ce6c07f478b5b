#include "soap/InvokableClassRegistry.h"

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

namespace {

const char* const kOperationNameMacro = "%operationName%";

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
  for (size_t pos = text.find(what); pos != std::string::npos;
       pos = text.find(what, pos + with.size())) {
    text.replace(pos, what.size(), with);
  }
  return text;
}

}  // namespace

int IndexOfMethod(const TIntfMetaData& intf, const std::string& methodName) {
  for (size_t i = 0; i < intf.MDA.size(); ++i) {
    if (intf.MDA[i].Name == methodName) return static_cast<int>(i);
  }
  return -1;
}

void TInvokableClassRegistry::RegisterInterface(const TIntfMetaData& info) {
  if (info.IID.empty()) throw Exception("Interface " + info.Name + " has no identifier");
  for (size_t i = 0; i < info.MDA.size(); ++i) {
    // Writers address operations by index; a mismatch would send the wrong operation.
    if (info.MDA[i].Pos != static_cast<int>(i)) {
      throw Exception(Format("Operation %s of %s is at index %zu but says %d",
                             info.MDA[i].Name.c_str(), info.Name.c_str(), i, info.MDA[i].Pos));
    }
  }
  std::lock_guard<std::mutex> lock(FLock);
  if (FInterfaces.count(info.IID) != 0) {
    throw Exception(Format("Interface %s is already registered, UUID = %s", info.Name.c_str(),
                           info.IID.c_str()));
  }
  FInterfaces.emplace(info.IID, std::make_unique<TIntfMetaData>(info));
}

void TInvokableClassRegistry::RegisterDefaultSOAPAction(const std::string& IID,
                                                        const std::string& actionTemplate) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FInterfaces.count(IID) == 0) {
    throw Exception(Format("Interface not registered, UUID = %s", IID.c_str()));
  }
  FActions[IID] = actionTemplate;
}

const TIntfMetaData* TInvokableClassRegistry::GetInterfaceInfo(const std::string& IID) const {
  std::lock_guard<std::mutex> lock(FLock);
  auto found = FInterfaces.find(IID);
  return found == FInterfaces.end() ? nullptr : found->second.get();
}

std::string TInvokableClassRegistry::GetActionURIOfInfo(const TIntfMetaData& intf,
                                                        const std::string& methodName,
                                                        int methIndex) const {
  if (methIndex < 0 || methIndex >= static_cast<int>(intf.MDA.size()) ||
      intf.MDA[static_cast<size_t>(methIndex)].Name != methodName) {
    throw Exception(Format("Interface %s has no operation %s at index %d", intf.Name.c_str(),
                           methodName.c_str(), methIndex));
  }
  const std::string actionTemplate = GetActionTemplate(intf.IID);
  if (actionTemplate.empty()) return intf.Namespace + "#" + methodName;
  return ReplaceAll(actionTemplate, kOperationNameMacro, methodName);
}

std::string TInvokableClassRegistry::GetNamespaceByIID(const std::string& IID) const {
  std::lock_guard<std::mutex> lock(FLock);
  auto found = FInterfaces.find(IID);
  return found == FInterfaces.end() ? std::string() : found->second->Namespace;
}

std::string TInvokableClassRegistry::GetActionTemplate(const std::string& IID) const {
  std::lock_guard<std::mutex> lock(FLock);
  auto found = FActions.find(IID);
  return found == FActions.end() ? std::string() : found->second;
}

TInvokableClassRegistry& InvRegistry() {
  static TInvokableClassRegistry registry;
  return registry;
}

}  // namespace vorlen
