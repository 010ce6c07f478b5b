#include "app/win32/MainForm.h"

#include <commctrl.h>

#include <algorithm>

#include "app/win32/Application.h"
#include "app/win32/WideText.h"
#include "runtime/Exception.h"

namespace vorlen::win32 {

namespace {

const wchar_t* const WindowClass = L"Tmain_f";
constexpr int ClientWidth = 530;
constexpr int ClientHeight = 54;
constexpr DWORD WindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
enum : int { idSend = 101, idProgress = 102, idCheck = 103 };
// A system-menu command below the system's own (0xF000 on); the low four bits are Windows'.
constexpr UINT idSettingsCommand = 0x0110;
constexpr UINT WM_RUNPOSTED = WM_APP + 1;

void RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, WindowClass, &existing)) return;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcW;  // replaced per window once its object is known
  windowClass.hInstance = instance;
  // The program's icon when it has one (resource 1), else the system's.
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = WindowClass;
  if (!RegisterClassExW(&windowClass)) throw Exception("Cannot register the window class");
}

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

TMainForm::TMainForm() : FDpi(SystemDpi()) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance);

  RECT frame{0, 0, Scale(ClientWidth), Scale(ClientHeight)};
  AdjustWindowRectEx(&frame, WindowStyle, FALSE, 0);
  FHandle.reset(CreateWindowExW(0, WindowClass, L"", WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, instance, nullptr));
  if (!FHandle) throw Exception("Cannot create the main window");
  SetWindowLongPtrW(Handle(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TMainForm::WindowProc));

  // The classic dialog font, 8 points; Windows substitutes its nearest where it lacks it.
  FFont.reset(CreateFontW(-MulDiv(8, FDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);

  // Overlapping siblings paint in the right order only when each clips the others.
  ProgressBar1 =
      CreateChild(PROGRESS_CLASSW, L"", WS_CLIPSIBLINGS, idProgress, 0, 0, ClientWidth, 24);
  SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
  SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
  btSend = CreateChild(L"BUTTON", L"Изпрати файл", WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON,
                       idSend, -3, 25, ClientWidth + 3, 28);
  chb = CreateChild(L"BUTTON", L"Не архивирай", WS_TABSTOP | WS_CLIPSIBLINGS | BS_AUTOCHECKBOX,
                    idCheck, 320, 32, 97, 17);
  SendMessageW(chb, BM_SETCHECK, BST_CHECKED, 0);
  // In front of the button it lies on.
  SetWindowPos(chb, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  if (HMENU menu = GetSystemMenu(Handle(), FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, idSettingsCommand, L"Настройки…");
  }
}

void TMainForm::PostRun() { PostMessageW(Handle(), WM_RUNPOSTED, 0, 0); }

void TMainForm::FocusSend() { SetFocus(btSend); }

void TMainForm::CancelOtherThreadsDialogs() {
  struct TSearch {
    HWND Owner;
    std::vector<HWND> Found;
  } search{Handle(), {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& search = *reinterpret_cast<TSearch*>(data);
        if (GetWindow(window, GW_OWNER) == search.Owner &&
            GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
          search.Found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  // A dialog takes WM_CLOSE as its Cancel button; posted, as its thread may be busy.
  for (HWND dialog : search.Found) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

void TMainForm::WaitTakingSentMessages(const std::function<bool()>& finished) {
  while (!finished()) {
    // Woken by a sent message; the short time-out notices the end of a thread that sends none.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

TMainForm::~TMainForm() {
  // Messages of the window's destruction find no object any more.
  if (FHandle) SetWindowLongPtrW(Handle(), GWLP_USERDATA, 0);
}

HWND TMainForm::CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, int id,
                            int left, int top, int width, int height) {
  HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, Scale(left),
                               Scale(top), Scale(width), Scale(height), Handle(),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  if (!child) throw Exception("Cannot create the window's controls");
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);
  return child;
}

void TMainForm::Show() {
  if (!FShownOnce) {
    FShownOnce = true;
    RECT desktop{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
    RECT window{};
    GetWindowRect(Handle(), &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    SetWindowPos(Handle(), nullptr, desktop.left + (desktop.right - desktop.left - width) / 2,
                 desktop.top + (desktop.bottom - desktop.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(Handle(), SW_SHOW);
  UpdateWindow(Handle());
  FocusSend();
}

void TMainForm::Hide() { ShowWindow(Handle(), SW_HIDE); }
bool TMainForm::Visible() const { return IsWindowVisible(Handle()) != FALSE; }

void TMainForm::SetCaption(const std::string& caption) {
  SetWindowTextW(Handle(), WideFromUtf8(caption).c_str());
}
std::string TMainForm::Caption() const { return Utf8FromWide(WindowText(Handle())); }

void TMainForm::SetProgress(int position) {
  SendMessageW(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, 0, 100)), 0);
}
int TMainForm::Progress() const {
  return static_cast<int>(SendMessageW(ProgressBar1, PBM_GETPOS, 0, 0));
}

bool TMainForm::Checked() const { return SendMessageW(chb, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void TMainForm::SetChecked(bool checked) {
  SendMessageW(chb, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}
void TMainForm::SetSendEnabled(bool enabled) { EnableWindow(btSend, enabled); }

bool TMainForm::DialogKey(const MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  if (message.wParam != VK_TAB && message.wParam != VK_RETURN) return false;
  if (message.hwnd != Handle() && GetParent(message.hwnd) != Handle()) return false;
  if (message.wParam == VK_RETURN) {
    if (IsWindowEnabled(btSend)) SendMessageW(btSend, BM_CLICK, 0, 0);
    return true;
  }
  const std::vector<HWND> order = TabOrder();
  const int count = static_cast<int>(order.size());
  const int step = GetKeyState(VK_SHIFT) < 0 ? count - 1 : 1;
  int at = static_cast<int>(std::find(order.begin(), order.end(), message.hwnd) - order.begin());
  if (at == count) at = step == 1 ? count - 1 : 0;
  for (int tried = 0; tried < count; ++tried) {
    at = (at + step) % count;
    HWND next = order[static_cast<size_t>(at)];
    const LONG_PTR style = GetWindowLongPtrW(next, GWL_STYLE);
    if ((style & WS_TABSTOP) && IsWindowVisible(next) && IsWindowEnabled(next)) {
      SetFocus(next);
      return true;
    }
  }
  return true;
}

void TMainForm::PaintButtonUnder(HWND window, HDC dc) {
  // The themed button asks this window for its corners while it prints: not itself again.
  if (FPrintingButton) return;
  FPrintingButton = true;
  RECT button{};
  GetWindowRect(btSend, &button);
  POINT at{button.left, button.top};
  ScreenToClient(window, &at);
  POINT origin{};
  OffsetViewportOrgEx(dc, at.x, at.y, &origin);
  SendMessageW(btSend, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  SetViewportOrgEx(dc, origin.x, origin.y, nullptr);
  FPrintingButton = false;
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return form->Dispatch(message, wParam, lParam);
  } catch (...) {
    // Never into Windows' frames: shown here, and the program runs on.
    Application().HandleException(std::current_exception());
    return 0;
  }
}

LRESULT TMainForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == idSend && HIWORD(wParam) == BN_CLICKED) {
        if (OnSendClick) OnSendClick();
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (reinterpret_cast<HWND>(lParam) == chb) {
        // The check box lies on the button: the button's own image goes under its glyph and
        // text (a fill of any colour would be a patch on it), and nothing fills over that.
        HDC dc = reinterpret_cast<HDC>(wParam);
        PaintButtonUnder(chb, dc);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      }
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT: {
      // A themed check box asks for its parent's background (DrawThemeParentBackground): under
      // it lies the button, so the button is drawn after the face colour. In the window's own
      // painting the button's area is clipped out and this draws nothing.
      const LRESULT result = DefWindowProcW(Handle(), message, wParam, lParam);
      HDC dc = reinterpret_cast<HDC>(wParam);
      // The themed button asks for its corners the same way: not itself again.
      if (FPrintingButton || WindowFromDC(dc) == btSend)
        return message == WM_ERASEBKGND ? TRUE : result;
      if (message == WM_PRINTCLIENT) {
        RECT client{};
        GetClientRect(Handle(), &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
      }
      PaintButtonUnder(Handle(), dc);
      return message == WM_ERASEBKGND ? TRUE : result;
    }
    case WM_RUNPOSTED:
      if (OnPosted) OnPosted();
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == idSettingsCommand) {
        if (OnSettings) OnSettings();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (!OnCloseQuery || OnCloseQuery()) {
        if (OnClose) OnClose();
        Hide();
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(Handle(), message, wParam, lParam);
}

}  // namespace vorlen::win32
