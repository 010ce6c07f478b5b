// The registered contract of ISenderService and the registry that serves it.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "runtime/Exception.h"
#include "soap/InvokableClassRegistry.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using P = TParamType;
using test::SenderIntf;

// The operations, their parameters and types in wire order are checked where they show, not
// against a copy of the table: in the requests written byte for byte (EnvelopeRequestTest) and
// the five calls through the proxy with their answers (ProxyTest).
TEST(ContractTest, RegistrationNamesTheService) {
  const TIntfMetaData& intf = SenderIntf();
  EXPECT_EQ(intf.IID, "{D849D04E-524E-3082-0494-426D19E4F1E1}");
  EXPECT_EQ(intf.Name, "ISenderService");
  EXPECT_EQ(intf.Namespace, "urn:SenderServiceIntf-ISenderService");
  EXPECT_EQ(intf.Encoding, "utf-8");
  EXPECT_EQ(InvRegistry().GetNamespaceByIID("{D849D04E-524E-3082-0494-426D19E4F1E1}"),
            "urn:SenderServiceIntf-ISenderService");
  EXPECT_EQ(IndexOfMethod(intf, "MergeFile"), smMergeFile);
  EXPECT_EQ(IndexOfMethod(intf, "mergefile"), -1);
}

TEST(ContractTest, ActionOfEveryOperation) {
  const TIntfMetaData& intf = SenderIntf();
  const TInvokableClassRegistry& reg = InvRegistry();
  EXPECT_EQ(reg.GetActionURIOfInfo(intf, "GetSession", smGetSession),
            "urn:SenderServiceIntf-ISenderService#GetSession");
  EXPECT_EQ(reg.GetActionURIOfInfo(intf, "UploadFilePart", smUploadFilePart),
            "urn:SenderServiceIntf-ISenderService#UploadFilePart");
  EXPECT_EQ(reg.GetActionURIOfInfo(intf, "MergeFile", smMergeFile),
            "urn:SenderServiceIntf-ISenderService#MergeFile");
  EXPECT_EQ(reg.GetActionURIOfInfo(intf, "UnZip", smUnZip),
            "urn:SenderServiceIntf-ISenderService#UnZip");
  EXPECT_EQ(reg.GetActionURIOfInfo(intf, "DelTempFiles", smDelTempFiles),
            "urn:SenderServiceIntf-ISenderService#DelTempFiles");
  // An index that names another operation is a caller's mistake, not a different action.
  EXPECT_THROW(reg.GetActionURIOfInfo(intf, "UnZip", smMergeFile), Exception);
  EXPECT_THROW(reg.GetActionURIOfInfo(intf, "UnZip", 9), Exception);
}

TEST(ContractTest, RegistrationIsIdempotentAcrossThreads) {
  std::vector<std::thread> threads;
  std::vector<const TIntfMetaData*> seen(8, nullptr);
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] {
      RegisterSenderService();
      seen[i] = InvRegistry().GetInterfaceInfo(IID_ISenderService);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const TIntfMetaData* info : seen) {
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info, seen.front());
  }
  RegisterSenderService();
  EXPECT_EQ(InvRegistry().GetInterfaceInfo(IID_ISenderService), seen.front());
}

TEST(ContractTest, RegistryRefusesBadRegistrationsAndAnswersUnknownIds) {
  TInvokableClassRegistry reg;
  TIntfMetaData info;
  info.Name = "IProbe";
  info.IID = "{00000000-0000-0000-0000-000000000001}";
  info.Namespace = "urn:probe";
  info.MDA = {{"Ping", 0, {}, P::ptBoolean}, {"Echo", 1, {{"Text", P::ptString}}, P::ptString}};

  EXPECT_EQ(reg.GetInterfaceInfo(info.IID), nullptr);
  EXPECT_EQ(reg.GetNamespaceByIID(info.IID), "");
  EXPECT_THROW(reg.RegisterDefaultSOAPAction(info.IID, "x#%operationName%"), Exception);

  reg.RegisterInterface(info);
  const TIntfMetaData* stored = reg.GetInterfaceInfo(info.IID);
  ASSERT_NE(stored, nullptr);
  // Without an action template the action falls back to namespace#operation.
  EXPECT_EQ(reg.GetActionURIOfInfo(*stored, "Echo", 1), "urn:probe#Echo");
  reg.RegisterDefaultSOAPAction(info.IID, "act:%operationName%/%operationName%");
  EXPECT_EQ(reg.GetActionURIOfInfo(*stored, "Echo", 1), "act:Echo/Echo");

  // Registering again would invalidate metadata that writers already hold.
  EXPECT_THROW(reg.RegisterInterface(info), Exception);
  EXPECT_EQ(reg.GetInterfaceInfo(info.IID), stored);

  TIntfMetaData noId = info;
  noId.IID.clear();
  EXPECT_THROW(reg.RegisterInterface(noId), Exception);
  TIntfMetaData badPos = info;
  badPos.IID = "{00000000-0000-0000-0000-000000000002}";
  badPos.MDA[1].Pos = 5;
  EXPECT_THROW(reg.RegisterInterface(badPos), Exception);
  EXPECT_EQ(reg.GetInterfaceInfo(badPos.IID), nullptr);
}

}  // namespace
}  // namespace vorlen
