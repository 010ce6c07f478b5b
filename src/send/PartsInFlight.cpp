#include "send/PartsInFlight.h"

#include <algorithm>
#include <utility>

#include "runtime/Exception.h"
#include "mime/SOAPAttachment.h"
#include "send/OperatorTexts.h"
#include "send/PartUpload.h"
#include "send/UploadRules.h"

namespace vorlen {

TPartsInFlight::TPartsInFlight(std::vector<ISenderServicePtr> services, std::string session)
    : FSession(std::move(session)) {
  for (ISenderServicePtr& service : services)
    FThreads.emplace_back(&TPartsInFlight::Work, this, std::move(service));
}

TPartsInFlight::~TPartsInFlight() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  for (std::thread& thread : FThreads) thread.join();
}

void TPartsInFlight::Start(std::unique_ptr<TPart> part) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FWaiting.push_back(std::move(part));
    ++FSending;
  }
  ++FInFlight;
  FChanged.notify_all();
}

std::unique_ptr<TPartsInFlight::TPart> TPartsInFlight::Collect() {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return !FDone.empty(); });
  std::unique_ptr<TPart> part = std::move(FDone.front());
  FDone.pop_front();
  --FInFlight;
  return part;
}

void TPartsInFlight::Drain() {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FSending == 0; });
}

void TPartsInFlight::Work(ISenderServicePtr service) {
  for (;;) {
    std::unique_ptr<TPart> part;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [this] { return FStopping || !FWaiting.empty(); });
      if (FWaiting.empty()) return;  // stopping, and nothing left to send
      part = std::move(FWaiting.front());
      FWaiting.pop_front();
    }
    {
      TSOAPAttachment attachment;
      attachment.SetSourceStream(&part->Bytes, TStreamOwnership::owReference);
      part->Accepted = UploadWithAttempts(part->Bytes, [&] {
        return CallUploadFilePart(service, FSession, part->Name, part->Hash, attachment);
      });
    }
    {
      std::lock_guard<std::mutex> guard(FLock);
      FDone.push_back(std::move(part));
      --FSending;
    }
    FChanged.notify_all();
  }
}

namespace {

// The service as the close handlers see it while parts are in flight: the clean-up they ask for
// waits until those parts have finished, so that none of them lands after it.
class TCleanUpAfterParts : public ISenderService {
 public:
  TCleanUpAfterParts(ISenderServicePtr inner, TPartsInFlight& parts)
      : FInner(std::move(inner)), FParts(&parts) {}
  void Forget() { FParts = nullptr; }

  std::string GetSession() override { return FInner->GetSession(); }
  bool UploadFilePart(const std::string& Sess, const std::string& PartName, const std::string& Hash,
                      TSOAPAttachment* FilePart) override {
    return FInner->UploadFilePart(Sess, PartName, Hash, FilePart);
  }
  bool MergeFile(int32_t Parts, const std::string& FileName, const std::string& Sess) override {
    return FInner->MergeFile(Parts, FileName, Sess);
  }
  bool UnZip(const std::string& Sess) override { return FInner->UnZip(Sess); }
  bool DelTempFiles(const std::string& Sess) override {
    if (FParts != nullptr) FParts->Drain();
    return FInner->DelTempFiles(Sess);
  }

 private:
  ISenderServicePtr FInner;
  TPartsInFlight* FParts;  // empty once the parts are all in
};

// Puts TCleanUpAfterParts in the shared state for the parts' time, and takes it out again
// unless a close handler has dropped the reference meanwhile.
class TCleanUpGuard {
 public:
  TCleanUpGuard(TSenderState& state, TPartsInFlight& parts)
      : FState(state),
        FOriginal(state.ServiceIntf),
        FWrapper(std::make_shared<TCleanUpAfterParts>(state.ServiceIntf, parts)) {
    FState.ServiceIntf = FWrapper;
  }
  ~TCleanUpGuard() {
    FWrapper->Forget();
    if (FState.ServiceIntf == FWrapper) FState.ServiceIntf = FOriginal;
  }
  TCleanUpGuard(const TCleanUpGuard&) = delete;
  TCleanUpGuard& operator=(const TCleanUpGuard&) = delete;

 private:
  TSenderState& FState;
  ISenderServicePtr FOriginal;
  std::shared_ptr<TCleanUpAfterParts> FWrapper;
};

}  // namespace

bool TPartUpload::UploadInFlight(TStream& file, const std::string& path, int64_t startSize,
                                 const std::string& fileName) {
  if (!NewPartService) throw Exception("Parts in flight need a service reference of their own");
  Service();  // raises NoService before any worker starts
  std::vector<ISenderServicePtr> services;
  for (int k = 0; k < Parallel; ++k) services.push_back(NewPartService());
  TPartsInFlight parts(std::move(services), FSender.Session);
  const TCleanUpGuard cleanUp(FSender, parts);

  std::deque<int32_t> toSend;
  for (int32_t i = 0; i <= FSender.LastPartIndex; ++i) toSend.push_back(i);
  std::vector<int32_t> failed;
  int64_t accepted = 0;
  for (;;) {
    // No new part once one has failed its attempts or the window is closing.
    while (!FSender.FClosing && failed.empty() && !toSend.empty() &&
           parts.InFlight() < parts.Workers()) {
      auto part = std::make_unique<TPartsInFlight::TPart>();
      part->Index = toSend.front();
      toSend.pop_front();
      part->Hash = ReadPart(file, path, startSize, part->Index, part->Bytes);
      part->Name = PartName(fileName, part->Index);
      parts.Start(std::move(part));
    }
    if (parts.InFlight() == 0) {
      if (FSender.FClosing || failed.empty()) return true;
      // One question for every part that failed while the others finished.
      if (!FView.Confirm(RetryQuestion)) {
        FView.SetProgress(0);
        return false;
      }
      std::sort(failed.begin(), failed.end());
      toSend.insert(toSend.begin(), failed.begin(), failed.end());
      failed.clear();
      continue;
    }
    const std::unique_ptr<TPartsInFlight::TPart> done = parts.Collect();
    if (!done->Accepted) {
      failed.push_back(done->Index);
      if (OnPartFailed) OnPartFailed(done->Index);
    } else if (!FSender.FClosing) {
      ++accepted;
      PartAccepted(done->Index, done->Bytes.Size(), accepted);
    }
  }
}

}  // namespace vorlen
