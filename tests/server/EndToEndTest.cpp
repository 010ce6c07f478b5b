// The client's own proxy against the service started in the test: the whole road of a send,
// and the requests that must be refused on it.
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <thread>

#include "archive/ZLBArchive.h"
#include "checksum/Checksum.h"
#include "platform/Paths.h"
#include "proxy/HTTPRIO.h"
#include "runtime/Format.h"
#include "server/FileNames.h"
#include "server/HttpService.h"
#include "server/ServerTestSupport.h"
#include "server/SessionId.h"
#include "soap/SOAPExceptions.h"
#include "support/LoggedService.h"
#include "support/Pattern.h"

namespace fs = std::filesystem;

namespace vorlen {
namespace {

using test::ListTree;
using test::RandomBytes;
using test::ReadFile;
using test::TLoggedService;
using test::TScratchDir;
using test::WriteFile;

std::string Hash(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(bytes.data(), static_cast<uint32_t>(bytes.size()), crc);
  return Format("%.8X", ~crc);
}

// Sends bytes as the client does: numbered parts with their CRC texts, 0 to size / partSize.
// Returns the index of the last part.
int32_t UploadParts(ISenderService& service, const std::string& sess, const std::string& fileName,
                    const std::string& bytes, size_t partSize) {
  const auto last = static_cast<int32_t>(bytes.size() / partSize);
  TSOAPAttachment attachment;
  for (int32_t i = 0; i <= last; ++i) {
    TMemoryStream part(std::string_view(bytes).substr(i * partSize, partSize));
    attachment.SetSourceStream(&part, TStreamOwnership::owReference);
    const std::string text = part.ToString();
    EXPECT_TRUE(service.UploadFilePart(sess, PartFileName(fileName, i), Hash(text), &attachment))
        << fileName << " part " << i;
    attachment.ReleaseSourceStream();
  }
  return last;
}

class EndToEndTest : public ::testing::Test {
 protected:
  EndToEndTest() {
    TServiceOptions options;
    options.Root = Inbox().string();
    options.Threads = 8;
    FLogged = std::make_unique<TLoggedService>(options);
    FService = &FLogged->Service;
    FProxy = BindSenderService(false, FService->Url(), nullptr);
    fs::create_directories(Sources());
  }

  // The request log's fault lines are shown when a test fails.
  void TearDown() override {
    if (!HasFailure()) return;
    for (const std::string& line : FLogged->Lines())
      if (line.find(" fault ") != std::string::npos) std::cerr << "service: " << line << "\n";
  }

  fs::path Inbox() const { return FTemp.Path() / "inbox"; }
  fs::path Sources() const { return FTemp.Path() / "sources"; }
  fs::path Delivered(const std::string& sess) const { return Inbox() / sess / "delivered"; }

  // An archive made by the client's own component from the given files.
  std::string MakeArchive(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) {
      WriteFile(Sources() / FsPathFromUtf8(name), bytes);
      paths.push_back(Utf8FromFsPath(Sources() / FsPathFromUtf8(name)));
    }
    const fs::path archivePath = FTemp.Path() / "vorarch.rar";
    fs::remove(archivePath);
    TZLBArchive archive;
    std::vector<std::string> errors;
    archive.OnErrorLogged = [&](const std::string& message) { errors.push_back(message); };
    archive.CreateArchive(archivePath.string());
    archive.AddFiles(paths);
    archive.CloseArchive();
    EXPECT_TRUE(errors.empty()) << errors.front();
    return ReadFile(archivePath);
  }

  TScratchDir FTemp;
  std::unique_ptr<TLoggedService> FLogged;
  THttpService* FService = nullptr;
  ISenderServicePtr FProxy;
};

TEST_F(EndToEndTest, PackedSendIsDeliveredByteForByte) {
  const std::string cyrillic = "\xD0\x9E\xD1\x82\xD1\x87\xD0\xB5\xD1\x82.txt";  // Отчет.txt
  const std::vector<std::pair<std::string, std::string>> files = {
      {"data.bin", RandomBytes(300000, 1)},
      {cyrillic, std::string(250000, 'A') + "\xD0\x96"},
      {"empty.dat", ""},
  };
  const std::string archive = MakeArchive(files);
  ASSERT_GT(archive.size(), 204800u);

  const std::string sess = FProxy->GetSession();
  ASSERT_TRUE(IsSessionId(sess));
  const int32_t last = UploadParts(*FProxy, sess, "vorarch.rar", archive, 204800);
  ASSERT_GE(last, 1);

  // The details file goes from disk with an empty hash.
  WriteFile(FTemp.Path() / "sendDetails.txt", "\xC8\xE7\xEF\xF0\xE0\xF2\xE5\xED\xEE\r\n");
  TSOAPAttachment details;
  details.SetSourceFile((FTemp.Path() / "sendDetails.txt").string());
  EXPECT_TRUE(FProxy->UploadFilePart(sess, "sendDetails.txt", "", &details));

  EXPECT_TRUE(FProxy->MergeFile(last, "vorarch.rar", sess));
  EXPECT_EQ(ReadFile(Delivered(sess) / "vorarch.rar"), archive);
  EXPECT_TRUE(FProxy->UnZip(sess));
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(ReadFile(Delivered(sess) / FsPathFromUtf8(name)), bytes) << name;
  }
  EXPECT_TRUE(FProxy->DelTempFiles(sess));
  EXPECT_EQ(
      ListTree(Inbox() / sess),
      (std::set<std::string>{".session", "delivered", "delivered/data.bin", "delivered/" + cyrillic,
                             "delivered/empty.dat", "sendDetails.txt"}));
  EXPECT_EQ(ReadFile(Inbox() / sess / "sendDetails.txt"),
            "\xC8\xE7\xEF\xF0\xE0\xF2\xE5\xED\xEE\r\n");
}

TEST_F(EndToEndTest, WrongHashesMissingPartsAndUnsafeNamesGiveFalse) {
  const std::string sess = FProxy->GetSession();
  TMemoryStream bytes(std::string_view("abc"));
  TSOAPAttachment part;
  part.SetSourceStream(&bytes, TStreamOwnership::owReference);
  EXPECT_FALSE(FProxy->UploadFilePart(sess, "f._000", "352441C3", &part));
  EXPECT_FALSE(fs::exists(Inbox() / sess / "parts" / "f._000"));
  EXPECT_TRUE(FProxy->UploadFilePart(sess, "f._000", "352441c2", &part));
  EXPECT_FALSE(FProxy->MergeFile(1, "f.txt", sess));  // f._001 never came
  EXPECT_FALSE(fs::exists(Delivered(sess) / "f.txt"));
  EXPECT_FALSE(FProxy->MergeFile(-1, "f.txt", sess));

  const auto before = ListTree(FTemp.Path());
  for (const char* name : {"..\\x", "../x", "/etc/x", "C:x"}) {
    EXPECT_FALSE(FProxy->UploadFilePart(sess, name, "", &part)) << name;
    EXPECT_FALSE(FProxy->MergeFile(0, name, sess)) << name;
  }
  EXPECT_EQ(ListTree(FTemp.Path()), before);
  EXPECT_FALSE(fs::exists("/etc/x"));
  part.ReleaseSourceStream();

  // An unknown session is the caller's fault, and the proxy stays usable after it.
  try {
    FProxy->UnZip("0123456789abcdef0123456789abcdef");
    ADD_FAILURE() << "no fault for an unknown session";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.FaultCode, "SOAP-ENV:Client");
    EXPECT_EQ(e.Message(), "Unknown session '0123456789abcdef0123456789abcdef'");
  }
  EXPECT_TRUE(FProxy->MergeFile(0, "f.txt", sess));
  EXPECT_EQ(ReadFile(Delivered(sess) / "f.txt"), "abc");
}

TEST_F(EndToEndTest, CorruptArchiveIsNotUnpacked) {
  std::string archive =
      MakeArchive({{"one.txt", std::string(5000, '1')}, {"two.txt", RandomBytes(7000, 2)}});
  struct TDamage {
    const char* What;
    std::string Bytes;
  };
  std::string flipped = archive;
  flipped[10] = static_cast<char>(flipped[10] ^ 0x40);
  const TDamage damages[] = {{"flipped byte", flipped},
                             {"truncated", archive.substr(0, archive.size() - 50)},
                             {"trailer only", archive.substr(archive.size() - 36)}};
  for (const TDamage& damage : damages) {
    const std::string sess = FProxy->GetSession();
    const int32_t last = UploadParts(*FProxy, sess, "vorarch.rar", damage.Bytes, 4096);
    EXPECT_TRUE(FProxy->MergeFile(last, "vorarch.rar", sess)) << damage.What;
    EXPECT_FALSE(FProxy->UnZip(sess)) << damage.What;
    EXPECT_EQ(ListTree(Delivered(sess)), std::set<std::string>{"vorarch.rar"}) << damage.What;
    EXPECT_TRUE(test::HoldsNothing(Inbox() / sess / "work")) << damage.What;
  }
}

TEST_F(EndToEndTest, ConcurrentSessionsStayApart) {
  constexpr int kSessions = 8;
  constexpr int kParts = 50;
  constexpr size_t kPartSize = 1024;
  std::vector<std::string> contents, sessions(kSessions);
  for (int s = 0; s < kSessions; ++s) {
    contents.push_back(RandomBytes(kPartSize * (kParts - 1) + 100 + s, 100 + s));
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int s = 0; s < kSessions; ++s) {
    clients.emplace_back([&, s] {
      try {
        ISenderServicePtr proxy = BindSenderService(false, FService->Url(), nullptr);
        sessions[s] = proxy->GetSession();
        const int32_t last = UploadParts(*proxy, sessions[s], "file.bin", contents[s], kPartSize);
        if (last != kParts - 1 || !proxy->MergeFile(last, "file.bin", sessions[s]) ||
            !proxy->DelTempFiles(sessions[s])) {
          ++failures;
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        ++failures;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  ASSERT_EQ(failures, 0);
  for (int s = 0; s < kSessions; ++s) {
    EXPECT_EQ(ReadFile(Delivered(sessions[s]) / "file.bin"), contents[s]) << s;
  }

  // Several clients on the parts of one session at once.
  const std::string shared = FProxy->GetSession();
  const std::string bytes = RandomBytes(kPartSize * 40, 7);
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      ISenderServicePtr proxy = BindSenderService(false, FService->Url(), nullptr);
      TSOAPAttachment attachment;
      for (int i = w; i < 40; i += 4) {
        TMemoryStream part(std::string_view(bytes).substr(i * kPartSize, kPartSize));
        attachment.SetSourceStream(&part, TStreamOwnership::owReference);
        if (!proxy->UploadFilePart(shared, PartFileName("s.bin", i), Hash(part.ToString()),
                                   &attachment)) {
          ++failures;
        }
        attachment.ReleaseSourceStream();
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(FProxy->MergeFile(39, "s.bin", shared));
  EXPECT_EQ(ReadFile(Delivered(shared) / "s.bin"), bytes);
}

}  // namespace
}  // namespace vorlen
