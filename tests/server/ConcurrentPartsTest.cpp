// Parts of one session stored at the same time: side by side, within the session's bounds.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "server/SenderServer.h"
#include "server/ServerTestSupport.h"

namespace fs = std::filesystem;

namespace vorlen {
namespace {

using test::Crc;
using test::ReadFile;
using test::TScratchDir;
using test::WriteFile;

TEST(ConcurrentParts, StoredSideBySideWithinTheBounds) {
  TScratchDir dir;
  TServiceLimits limits;
  limits.MaxParts = 2;
  limits.MaxDelivered = 20;
  TSenderServer server(dir.Path() / "inbox", limits);
  const std::string sess = server.GetSession();
  int counter = 0;
  auto put = [&](const std::string& name, const std::string& bytes) {
    const fs::path received = server.IncomingDir() / ("att-" + std::to_string(counter++));
    WriteFile(received, bytes);
    return server.UploadFilePart(sess, name, Crc(bytes), received);
  };

  // Part 0 is held while it is being stored; the others come meanwhile.
  std::mutex lock;
  std::condition_variable changed;
  bool firstHeld = false;
  bool othersDone = false;
  bool heldUntilOthersDone = false;
  server.OnPartStoring = [&](const std::string& name) {
    if (name != "f._000") return;
    std::unique_lock<std::mutex> guard(lock);
    firstHeld = true;
    changed.notify_all();
    heldUntilOthersDone =
        changed.wait_for(guard, std::chrono::seconds(10), [&] { return othersDone; });
  };
  std::future<bool> first =
      std::async(std::launch::async, [&] { return put("f._000", "0123456789"); });
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return firstHeld; }));
  }
  // Part 1 is stored while part 0 is: the session is not locked for one part at a time.
  const bool second = put("f._001", "abcdefghij");
  // Part 0, held, already counts: a third part passes the part bound, larger bytes the byte
  // bound, and its own name cannot be stored twice at once.
  const bool third = put("f._002", "x");
  const bool grown = put("f._001", "abcdefghijk");
  const bool twice = put("f._000", "0123456789");
  {
    std::lock_guard<std::mutex> guard(lock);
    othersDone = true;
  }
  changed.notify_all();
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second);
  EXPECT_TRUE(heldUntilOthersDone) << "part 1 waited for part 0";
  EXPECT_FALSE(third);
  EXPECT_FALSE(grown);
  EXPECT_FALSE(twice);

  // What was refused left nothing behind, and the merge takes both parts whole.
  ASSERT_TRUE(server.MergeFile(1, "f.txt", sess));
  EXPECT_EQ("0123456789abcdefghij", ReadFile(dir.Path() / "inbox" / sess / "delivered" / "f.txt"));
  EXPECT_FALSE(fs::exists(dir.Path() / "inbox" / sess / "parts" / "f._002"));
}

}  // namespace
}  // namespace vorlen
