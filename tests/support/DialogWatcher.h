// Answers a modal Windows box from a thread of its own: the box blocks the test's thread, so the
// watcher finds it (a top-level dialog of this process that the match accepts) and runs answer
// on it once. Reading texts and posting clicks across threads is what the box's modal loop serves.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vorlen::test {

inline std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// The texts of a box's static controls, in z-order, and whether one of them shows an icon.
struct TBoxContent {
  std::vector<std::wstring> Texts;
  bool Icon = false;
};

inline TBoxContent ContentOf(HWND box) {
  TBoxContent content;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") != 0) continue;
    if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      // A box without an icon may keep the control, hidden or empty.
      content.Icon =
          content.Icon || (IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0));
    } else if (!TextOf(child).empty()) {
      content.Texts.push_back(TextOf(child));
    }
  }
  return content;
}

inline void Press(HWND box, int id) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

class TDialogWatcher {
 public:
  using TMatch = std::function<bool(HWND)>;
  using TAnswer = std::function<void(HWND)>;

  // A dialog whose caption is caption.
  static TMatch Captioned(std::wstring caption) {
    return [caption](HWND box) { return TextOf(box) == caption; };
  }

  TDialogWatcher(TMatch match, TAnswer answer)
      : FMatch(std::move(match)), FAnswer(std::move(answer)), FThread([this] { Watch(); }) {}
  ~TDialogWatcher() {
    FStop = true;
    FThread.join();
  }
  TDialogWatcher(const TDialogWatcher&) = delete;
  TDialogWatcher& operator=(const TDialogWatcher&) = delete;

  bool Answered() const { return FAnswered; }

 private:
  struct TSearch {
    const TMatch* Match;
    HWND Found = nullptr;
  };
  static BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<TSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        ClassOf(window) == L"#32770" && (*search.Match)(window)) {
      search.Found = window;
      return FALSE;
    }
    return TRUE;
  }
  void Watch() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FStop && std::chrono::steady_clock::now() < deadline) {
      TSearch search{&FMatch};
      EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
      if (search.Found) {
        // Let the box finish its own start-up before it is read and answered.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        FAnswer(search.Found);
        FAnswered = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  TMatch FMatch;
  TAnswer FAnswer;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FAnswered{false};
  std::thread FThread;
};

}  // namespace vorlen::test
