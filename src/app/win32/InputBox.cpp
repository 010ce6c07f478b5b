#include "app/win32/InputBox.h"

#include <vector>

#include "app/win32/Application.h"
#include "app/win32/WideText.h"

namespace vorlen::win32 {

namespace {

enum : WORD { idPrompt = 100, idEdit = 101 };
enum : WORD { atomButton = 0x0080, atomEdit = 0x0081, atomStatic = 0x0082 };

// The dialog template, written word by word as DialogBoxIndirectParamW reads it.
class TTemplate {
 public:
  void Dialog(DWORD style, WORD items, short cx, short cy, const wchar_t* font, WORD points) {
    Long(style);
    Long(0);  // extended style
    Word(items);
    Words({0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy)});
    Words({0, 0});  // no menu, the standard dialog class
    Text(L"");      // the caption is set when the box opens
    Word(points);
    Text(font);
  }
  void Item(WORD atom, WORD id, DWORD style, short x, short y, short cx, short cy,
            const wchar_t* text = L"") {
    while (FWords.size() % 2) Word(0);  // items start on a DWORD boundary
    Long(WS_CHILD | WS_VISIBLE | style);
    Long(0);
    Words({static_cast<WORD>(x), static_cast<WORD>(y), static_cast<WORD>(cx), static_cast<WORD>(cy),
           id, 0xFFFF, atom});
    Text(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* Data() const { return reinterpret_cast<const DLGTEMPLATE*>(FWords.data()); }

 private:
  void Word(WORD value) { FWords.push_back(value); }
  void Words(std::initializer_list<WORD> values) { FWords.insert(FWords.end(), values); }
  void Long(DWORD value) { Words({LOWORD(value), HIWORD(value)}); }
  void Text(const wchar_t* text) {
    for (; *text; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  std::vector<WORD> FWords;
};

struct TBoxState {
  const std::wstring& Caption;
  const std::wstring& Prompt;
  std::wstring& Value;
};

INT_PTR CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_INITDIALOG: {
        const auto& state = *reinterpret_cast<TBoxState*>(lParam);
        SetWindowLongPtrW(box, DWLP_USER, lParam);
        SetWindowTextW(box, state.Caption.c_str());
        SetDlgItemTextW(box, idPrompt, state.Prompt.c_str());
        SendDlgItemMessageW(box, idEdit, EM_LIMITTEXT, InputBoxMaxLength, 0);
        SetDlgItemTextW(box, idEdit, state.Value.c_str());
        SendDlgItemMessageW(box, idEdit, EM_SETSEL, 0, -1);
        return TRUE;  // the focus goes to the edit field, the first tab stop
      }
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
          auto& state = *reinterpret_cast<TBoxState*>(GetWindowLongPtrW(box, DWLP_USER));
          state.Value = WindowText(GetDlgItem(box, idEdit));
          EndDialog(box, IDOK);
          return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
          EndDialog(box, IDCANCEL);
          return TRUE;
        }
        break;
      default:
        break;
    }
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
  return FALSE;
}

}  // namespace

bool ShowInputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  std::wstring& value, bool secret) {
  // Dialog units, laid out like the classic input box: prompt, field, then OK and Cancel.
  TTemplate box;
  box.Dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER, 4, 180,
             63, L"MS Shell Dlg", 8);
  box.Item(atomStatic, idPrompt, SS_LEFT | SS_NOPREFIX, 8, 8, 164, 9);
  box.Item(atomEdit, idEdit, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | (secret ? ES_PASSWORD : 0),
           8, 19, 164, 12);
  box.Item(atomButton, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 68, 41, 50, 14, L"OK");
  box.Item(atomButton, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 122, 41, 50, 14, L"Отказ");
  std::wstring edited = value;
  TBoxState state{caption, prompt, edited};
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), box.Data(), owner,
                                                 &BoxProc, reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return false;
  value = std::move(edited);
  return true;
}

}  // namespace vorlen::win32
