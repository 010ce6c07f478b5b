// A window's message loop without a window: actions posted from any thread wait here until the
// thread that owns the queue runs them, as a window's thread runs what a send's worker posts.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace vorlen::test {

class TPostQueue {
 public:
  void Post(std::function<void()> action) {
    std::lock_guard<std::mutex> guard(FLock);
    FActions.push_back(std::move(action));
    FChanged.notify_all();
  }
  // Runs posted actions, waiting for each, until done() holds after one of them.
  void RunUntil(const std::function<bool()>& done) {
    while (!done()) {
      std::function<void()> action;
      {
        std::unique_lock<std::mutex> wait(FLock);
        FChanged.wait(wait, [&] { return !FActions.empty(); });
        action = std::move(FActions.front());
        FActions.pop_front();
      }
      action();
    }
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FActions;
};

}  // namespace vorlen::test
