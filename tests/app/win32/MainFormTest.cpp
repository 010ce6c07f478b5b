// The native main window read back from Windows: geometry, styles, texts, stacking, keyboard
// order, events and the application's pump.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <uxtheme.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/win32/Application.h"
#include "app/win32/MainForm.h"
#include "support/DialogWatcher.h"

using namespace vorlen;
using namespace vorlen::win32;
using namespace vorlen::test;

namespace {

// A control's rectangle in its parent's client coordinates.
RECT ClientRectOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void ExpectRect(HWND control, const TMainForm& form, int left, int top, int width, int height) {
  const RECT rect = ClientRectOf(control);
  EXPECT_EQ(rect.left, form.Scale(left)) << TextOf(control).size();
  EXPECT_EQ(rect.top, form.Scale(top));
  EXPECT_EQ(rect.right - rect.left, form.Scale(width));
  EXPECT_EQ(rect.bottom - rect.top, form.Scale(height));
}

// True when upper is above lower among their siblings.
bool Above(HWND upper, HWND lower) {
  for (HWND w = GetWindow(upper, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == lower) return true;
  }
  return false;
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}


// The pixels of area (in window's client coordinates) as the window's surface holds them,
// 0x00RRGGBB row by row.
std::vector<uint32_t> Capture(HWND window, const RECT& area) {
  const int width = area.right - area.left, height = area.bottom - area.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                               static_cast<const uint32_t*>(bits) + width * height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

void Repaint(HWND window) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
  Pump();
}

// The check box against the button it lies on: the button is captured with the box hidden; the
// box's area is then filled with a colour of no control and the box painted again. Outside the
// glyph and the text's band nothing may differ from the button, and within the band only the
// letters (well under half of it).
void ExpectCheckBoxOverTheButton(TMainForm& form, const char* look) {
  SCOPED_TRACE(look);
  const RECT box = ClientRectOf(form.chb);
  const int margin = form.Scale(2);
  const RECT area{box.left - margin, box.top - margin, box.right + margin, box.bottom + margin};
  const int width = area.right - area.left;
  form.FocusSend();
  ShowWindow(form.chb, SW_HIDE);
  Repaint(form.Handle());
  const std::vector<uint32_t> button = Capture(form.Handle(), area);
  ShowWindow(form.chb, SW_SHOW);
  HDC dc = GetDC(form.chb);
  RECT client{};
  GetClientRect(form.chb, &client);
  HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
  FillRect(dc, &client, magenta);
  DeleteObject(magenta);
  ReleaseDC(form.chb, dc);
  Repaint(form.chb);
  const std::vector<uint32_t> shown = Capture(form.Handle(), area);

  // The text's band: the letters' height, centred, from the glyph on to the text's end.
  HDC measure = GetDC(form.chb);
  HGDIOBJ oldFont =
      SelectObject(measure, reinterpret_cast<HFONT>(SendMessageW(form.chb, WM_GETFONT, 0, 0)));
  SIZE text{};
  GetTextExtentPoint32W(measure, L"Не архивирай", 12, &text);
  SelectObject(measure, oldFont);
  ReleaseDC(form.chb, measure);
  const int glyphEnd = box.left + form.Scale(18);
  const RECT band{glyphEnd, (box.top + box.bottom - text.cy) / 2 - 1,
                  glyphEnd + text.cx + form.Scale(4), (box.top + box.bottom + text.cy) / 2 + 1};
  int outside = 0, inBand = 0, bandArea = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const size_t at = static_cast<size_t>((y - area.top) * width + (x - area.left));
      const bool differs = shown[at] != button[at];
      const bool inBox = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
      if (inBox && x < glyphEnd) continue;  // the glyph
      if (x >= band.left && x < band.right && y >= band.top && y < band.bottom) {
        ++bandArea;
        inBand += differs;
      } else if (differs) {
        if (outside++ == 0)
          ADD_FAILURE() << "first differing pixel at " << x << "," << y << ": " << std::hex
                        << shown[at] << " over " << button[at];
      }
    }
  }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(inBand, 0);  // the text was drawn
  EXPECT_LT(inBand * 2, bandArea);
}
}  // namespace

TEST(Win32Form, LayoutStylesAndKeyboardOrder) {
  TMainForm form;
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  // The suite runs once more with the prefix at another DPI, which it names.
  if (const char* expected = std::getenv("VORLEN_TEST_DPI")) {
    EXPECT_EQ(dpi, std::atoi(expected));
  }
  EXPECT_EQ(form.Scale(530), MulDiv(530, dpi, 96));

  EXPECT_FALSE(form.Visible());
  form.Show();
  EXPECT_TRUE(form.Visible());
  RECT client{};
  GetClientRect(form.Handle(), &client);
  EXPECT_EQ(client.right - client.left, form.Scale(530));
  EXPECT_EQ(client.bottom - client.top, form.Scale(54));

  const LONG_PTR style = GetWindowLongPtrW(form.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);  // single, fixed border
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(GetClassLongPtrW(form.Handle(), GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);

  // Centred on the desktop.
  RECT desktop{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
  RECT window{};
  GetWindowRect(form.Handle(), &window);
  EXPECT_LE(std::abs((window.left + window.right) - (desktop.left + desktop.right)), 2);
  EXPECT_LE(std::abs((window.top + window.bottom) - (desktop.top + desktop.bottom)), 2);

  EXPECT_EQ(ClassOf(form.ProgressBar1), L"msctls_progress32");
  ExpectRect(form.ProgressBar1, form, 0, 0, 530, 24);
  EXPECT_EQ(SendMessageW(form.ProgressBar1, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageW(form.ProgressBar1, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(form.Progress(), 0);

  ExpectRect(form.btSend, form, -3, 25, 533, 28);
  EXPECT_EQ(TextOf(form.btSend), L"Изпрати файл");
  EXPECT_EQ(GetWindowLongPtrW(form.btSend, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);

  ExpectRect(form.chb, form, 320, 32, 97, 17);
  EXPECT_EQ(TextOf(form.chb), L"Не архивирай");
  EXPECT_EQ(GetWindowLongPtrW(form.chb, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
  EXPECT_TRUE(form.Checked());
  // The box lies in front of the button, and both clip each other so that it paints so.
  EXPECT_TRUE(Above(form.chb, form.btSend));
  EXPECT_TRUE(GetWindowLongPtrW(form.chb, GWL_STYLE) & WS_CLIPSIBLINGS);
  EXPECT_TRUE(GetWindowLongPtrW(form.btSend, GWL_STYLE) & WS_CLIPSIBLINGS);

  // Tab follows the window's own order (the progress bar takes no focus), not the stacking.
  EXPECT_EQ(form.TabOrder(), (std::vector<HWND>{form.btSend, form.ProgressBar1, form.chb}));
  SetForegroundWindow(form.Handle());
  SetFocus(form.btSend);
  ASSERT_EQ(GetFocus(), form.btSend);
  MSG tab{form.btSend, WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_TRUE(form.DialogKey(tab));
  EXPECT_EQ(GetFocus(), form.chb);
  tab.hwnd = form.chb;
  EXPECT_TRUE(form.DialogKey(tab));
  EXPECT_EQ(GetFocus(), form.btSend);
  MSG other{form.btSend, WM_KEYDOWN, VK_SPACE, 0, 0, {}};
  EXPECT_FALSE(form.DialogKey(other));

  // What the send shows.
  form.SetCaption("Сесия 7 - Готово");
  EXPECT_EQ(TextOf(form.Handle()), L"Сесия 7 - Готово");
  EXPECT_EQ(form.Caption(), "Сесия 7 - Готово");
  form.SetProgress(67);
  EXPECT_EQ(SendMessageW(form.ProgressBar1, PBM_GETPOS, 0, 0), 67);
  form.SetChecked(false);
  EXPECT_EQ(SendMessageW(form.chb, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_FALSE(form.Checked());
  form.SetSendEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(form.btSend));
}

TEST(Win32Form, CheckBoxShowsTheButtonAroundItsGlyphAndText) {
  TMainForm form;
  form.Show();
  ExpectCheckBoxOverTheButton(form, "visual styles");
  {
    // Wine's theme paints buttons in the plain button-face colour; with another one set, the
    // themed button and that colour differ, and a patch of it would show.
    const int element = COLOR_BTNFACE;
    const COLORREF face = GetSysColor(element);
    const COLORREF other = RGB(176, 208, 255);
    SetSysColors(1, &element, &other);
    ExpectCheckBoxOverTheButton(form, "visual styles, another button-face colour");
    SetSysColors(1, &element, &face);
  }
  // Without visual styles: the classic button and box.
  SetWindowTheme(form.btSend, L"", L"");
  SetWindowTheme(form.chb, L"", L"");
  ExpectCheckBoxOverTheButton(form, "classic");
}

TEST(Win32Form, ClicksCloseRequestsAndEscapingErrors) {
  TMainForm form;
  form.Show();
  std::vector<std::string> events;
  std::vector<std::string> shown;
  Application().OnException = [&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      shown.push_back(e.what());
    }
  };
  bool mayClose = false;
  form.OnSendClick = [&] { events.push_back("click"); };
  form.OnCloseQuery = [&] {
    events.push_back("query");
    return mayClose;
  };
  form.OnClose = [&] { events.push_back("close"); };

  SendMessageW(form.btSend, BM_CLICK, 0, 0);
  SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(form.Visible());
  mayClose = true;
  SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(form.Visible());
  EXPECT_EQ(events, (std::vector<std::string>{"click", "query", "query", "close"}));
  EXPECT_TRUE(shown.empty());

  // An exception from a handler stops at the window procedure, and the window works on.
  form.Show();
  form.OnSendClick = [] { throw std::runtime_error("Handler failed"); };
  SendMessageW(form.btSend, BM_CLICK, 0, 0);
  form.OnCloseQuery = []() -> bool { throw std::runtime_error("Close failed"); };
  PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
  Pump();
  EXPECT_TRUE(form.Visible());
  EXPECT_EQ(shown, (std::vector<std::string>{"Handler failed", "Close failed"}));
  Application().OnException = nullptr;
}

TEST(Win32Form, PumpDispatchesAndStopsAtTheQuitRequest) {
  TApplication application;
  TMainForm form;
  form.Show();
  int clicks = 0;
  form.OnSendClick = [&] { ++clicks; };
  std::vector<std::string> shown;
  application.OnException = [&](std::exception_ptr) { shown.push_back("error"); };
  // A filter that fails is shown like any handler, and its message is not dispatched.
  application.OnMessage = [&](const MSG& message) -> bool {
    if (message.message == WM_APP) throw std::runtime_error("filter");
    return false;
  };
  PostMessageW(form.btSend, BM_CLICK, 0, 0);
  PostMessageW(form.Handle(), WM_APP, 0, 0);
  application.ProcessMessages();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(shown, std::vector<std::string>{"error"});
  EXPECT_FALSE(application.Terminated());

  // Terminate ends the loop once it is back there; what was queued before still runs.
  PostMessageW(form.btSend, BM_CLICK, 0, 0);
  application.Terminate();
  application.Run();
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(clicks, 2);
  PostMessageW(form.btSend, BM_CLICK, 0, 0);
  application.ProcessMessages();  // a terminated application dispatches nothing more
  EXPECT_EQ(clicks, 2);
  Pump();
  EXPECT_EQ(clicks, 3);
}
