// What vorlen-sender.exe carries for Windows itself: the GUI subsystem, the version resource, the
// icon and the manifest asking for common controls 6 and DPI awareness.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "runtime/WindowsText.h"

namespace {

// The build's path as Wine sees it: the Unix root is drive Z:.
std::wstring SenderPath() { return vorlen::WideFromUtf8(std::string("Z:") + VORLEN_SENDER_EXE); }

std::string StringValue(const std::string& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040204B0\\") + name;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return "";
  return vorlen::Utf8FromWide(std::wstring(static_cast<const wchar_t*>(value), length - 1));
}

TEST(SenderResources, SubsystemVersionIconAndManifest) {
  std::ifstream file("Z:" + std::string(VORLEN_SENDER_EXE), std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64), image.size());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);  // no console window

  const std::wstring path = SenderPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  EXPECT_EQ("Vorlen Sender", StringValue(block, L"ProductName"));
  EXPECT_EQ(VORLEN_PROJECT_VERSION, StringValue(block, L"ProductVersion"));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  const std::string quad = std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
                           std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
                           std::to_string(HIWORD(fixed->dwProductVersionLS));
  EXPECT_EQ(VORLEN_PROJECT_VERSION, quad);

  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module);
  EXPECT_NE(nullptr, FindResourceA(module, MAKEINTRESOURCEA(1), RT_GROUP_ICON));
  const HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(nullptr, manifest);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
  const std::string text(bytes, SizeofResource(module, manifest));
  FreeLibrary(module);
  EXPECT_NE(std::string::npos,
            text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""))
      << text;
  EXPECT_NE(std::string::npos, text.find(">true</dpiAware>")) << text;
  EXPECT_NE(std::string::npos, text.find("level=\"asInvoker\"")) << text;
}

}  // namespace
