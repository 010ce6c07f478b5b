#include "app/win32/Application.h"

#include <string>

namespace vorlen::win32 {

TApplication& Application() {
  static TApplication application;
  return application;
}

std::wstring ApplicationTitle() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/:");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

bool TApplication::HandleMessage(bool wait) {
  MSG message;
  if (wait) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
      FTerminated = true;
      return false;
    }
  } else if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  } else if (message.message == WM_QUIT) {
    FTerminated = true;
    return false;
  }
  try {
    if (OnMessage && OnMessage(message)) return true;
  } catch (...) {
    HandleException(std::current_exception());
    return true;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

void TApplication::Run() {
  while (!FTerminated) HandleMessage(true);
}

void TApplication::ProcessMessages() {
  while (!FTerminated && HandleMessage(false)) {}
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::HandleException(std::exception_ptr error) noexcept {
  try {
    if (OnException) OnException(error);
  } catch (...) {
    // The box itself failed; there is nobody left to tell.
  }
}

}  // namespace vorlen::win32
