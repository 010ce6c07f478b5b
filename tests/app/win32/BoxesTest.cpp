// The operator's boxes as Windows shows them, answered from a watcher thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <filesystem>
#include <string>

#include "app/win32/Boxes.h"
#include "app/win32/InputBox.h"
#include "support/DialogWatcher.h"
#include "support/ScratchDir.h"

using namespace vorlen;
using namespace vorlen::win32;
using namespace vorlen::test;

namespace {

struct TSeen {
  std::wstring Caption;
  TBoxContent Content;
  bool Yes = false, No = false, Ok = false;
  int Default = 0;  // the default button's id
};

// Reads a message box, then presses button.
TDialogWatcher::TAnswer ReadAndPress(TSeen& seen, int button) {
  return [&seen, button](HWND box) {
    seen.Caption = TextOf(box);
    seen.Content = ContentOf(box);
    seen.Yes = GetDlgItem(box, IDYES) != nullptr;
    seen.No = GetDlgItem(box, IDNO) != nullptr;
    seen.Ok = GetDlgItem(box, IDOK) != nullptr;
    for (const int id : {IDYES, IDNO, IDOK}) {
      HWND item = GetDlgItem(box, id);
      if (item != nullptr && (GetWindowLongW(item, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON)
        seen.Default = id;
    }
    Press(box, button);
  };
}

auto AnyBox() {
  return [](HWND) { return true; };
}

}  // namespace

TEST(Win32Boxes, MessageBoxesCarryTheTitleTextAndButtons) {
  TBoxes boxes([] { return HWND(nullptr); }, L"vorlen-sender");
  const std::string question = "Наистина ли желаете да прекратите изпращането на файла?";
  {
    TSeen seen;
    TDialogWatcher watcher(AnyBox(), ReadAndPress(seen, IDYES));
    EXPECT_TRUE(boxes.Confirm(question));
    EXPECT_EQ(seen.Caption, L"vorlen-sender");
    EXPECT_EQ(seen.Content.Texts, std::vector<std::wstring>{
                                      L"Наистина ли желаете да прекратите изпращането на файла?"});
    EXPECT_TRUE(seen.Yes && seen.No);
  }
  {
    TSeen seen;
    TDialogWatcher watcher(AnyBox(), ReadAndPress(seen, IDNO));
    EXPECT_FALSE(boxes.Confirm(question));
    EXPECT_TRUE(watcher.Answered());
  }
  {
    TSeen seen;
    TDialogWatcher watcher(AnyBox(), ReadAndPress(seen, IDOK));
    boxes.Inform("В момента не може да прекратите програмата!");
    EXPECT_EQ(seen.Content.Texts,
              std::vector<std::wstring>{L"В момента не може да прекратите програмата!"});
    EXPECT_FALSE(seen.Content.Icon);
    EXPECT_TRUE(seen.Ok && !seen.Yes && !seen.No);
  }
  {
    TSeen seen;
    TDialogWatcher watcher(AnyBox(), ReadAndPress(seen, IDOK));
    boxes.ShowError("Connection refused.");
    EXPECT_EQ(seen.Caption, L"vorlen-sender");
    EXPECT_EQ(seen.Content.Texts, std::vector<std::wstring>{L"Connection refused."});
    EXPECT_TRUE(seen.Content.Icon);
    EXPECT_TRUE(seen.Ok && !seen.Yes);
  }
}

// The certificate question: Yes / No with an icon; No is the default when the certificate
// replaced a trusted one.
TEST(Win32Boxes, CertificateQuestionDefaultsToNoForAReplacedCertificate) {
  TBoxes boxes([] { return HWND(nullptr); }, L"vorlen-sender");
  for (const bool replaced : {false, true}) {
    TSeen seen;
    TDialogWatcher watcher(AnyBox(), ReadAndPress(seen, replaced ? IDNO : IDYES));
    EXPECT_EQ(boxes.ConfirmCertificate("Адрес: 127.0.0.1:8443", replaced), !replaced);
    EXPECT_EQ(seen.Content.Texts, std::vector<std::wstring>{L"Адрес: 127.0.0.1:8443"});
    EXPECT_TRUE(seen.Content.Icon);
    EXPECT_TRUE(seen.Yes && seen.No);
    EXPECT_EQ(seen.Default, replaced ? IDNO : IDYES);
  }
}

TEST(Win32Boxes, InputBoxShowsTheValueAndReturnsWhatWasTyped) {
  TBoxes boxes([] { return HWND(nullptr); }, L"vorlen-sender");
  const std::wstring caption = L"Въведете име на организация";
  std::wstring prompt, field;
  LRESULT limit = 0;
  bool password = false;
  std::string value = "  ";
  {
    TDialogWatcher watcher(TDialogWatcher::Captioned(caption), [&](HWND box) {
      prompt = ContentOf(box).Texts.at(0);
      HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
      field = TextOf(edit);
      limit = SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
      password = GetWindowLongPtrW(edit, GWL_STYLE) & ES_PASSWORD;
      SetWindowTextW(edit, L"Община Ворлен ");
      Press(box, IDOK);
    });
    EXPECT_TRUE(boxes.InputQuery("Въведете име на организация", "Организация", value));
    EXPECT_TRUE(watcher.Answered());
  }
  EXPECT_EQ(prompt, L"Организация");
  EXPECT_EQ(field, L"  ");
  EXPECT_EQ(limit, InputBoxMaxLength);
  EXPECT_EQ(limit, 255);
  EXPECT_FALSE(password);
  EXPECT_EQ(value, "Община Ворлен ");  // as typed, spaces kept

  // Cancel, or closing the box, keeps the value.
  {
    TDialogWatcher watcher(TDialogWatcher::Captioned(L"Парола"), [&](HWND box) {
      HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
      password = GetWindowLongPtrW(edit, GWL_STYLE) & ES_PASSWORD;
      SetWindowTextW(edit, L"typed");
      Press(box, IDCANCEL);
    });
    EXPECT_FALSE(boxes.InputQuery("Парола", "Парола", value, true));
    EXPECT_TRUE(password);
    EXPECT_EQ(value, "Община Ворлен ");
  }
  {
    TDialogWatcher watcher(TDialogWatcher::Captioned(L"url"),
                           [](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(boxes.InputQuery("url", "url", value));
    EXPECT_EQ(value, "Община Ворлен ");
  }
}

TEST(Win32Boxes, OpenDialogReturnsTheChosenFile) {
  vorlen::test::TScratchDir dir;
  const std::filesystem::path file = dir.Path() / L"Отчет за юни.txt";
  // Made with the wide call: a narrow stream would take the name in the ANSI code page.
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(std::filesystem::exists(file));
  TBoxes boxes([] { return HWND(nullptr); }, L"vorlen-sender");
  auto isOpenDialog = [](HWND box) { return GetDlgItem(box, 0x47c) != nullptr; };  // cmb13
  {
    TDialogWatcher watcher(isOpenDialog, [&](HWND box) {
      HWND field =
          reinterpret_cast<HWND>(SendMessageW(GetDlgItem(box, 0x47c), CBEM_GETEDITCONTROL, 0, 0));
      // The dialog may still be filling its fields: type again until it takes the name.
      for (int attempt = 0; attempt < 10 && IsWindow(box); ++attempt) {
        SetWindowTextW(field, file.wstring().c_str());
        Press(box, IDOK);
        Sleep(300);
      }
    });
    std::string path;
    ASSERT_TRUE(boxes.OpenFile(path));
    EXPECT_EQ(std::filesystem::u8path(path), file);
  }
  {
    TDialogWatcher watcher(isOpenDialog, [](HWND box) { Press(box, IDCANCEL); });
    std::string path = "unchanged";
    EXPECT_FALSE(boxes.OpenFile(path));
    EXPECT_TRUE(watcher.Answered());
    EXPECT_EQ(path, "unchanged");
  }
}
