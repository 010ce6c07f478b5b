#include <windows.h>

#include <vector>

#include "platform/Registry.h"
#include "runtime/Format.h"
#include "runtime/WindowsText.h"

namespace vorlen {

namespace {

[[noreturn]] void Fail(const char* what, LONG code) {
  throw ERegistryException(Format("%s failed with code %ld", what, static_cast<long>(code)));
}

class TWinRegistryKey : public IRegistryKey {
 public:
  explicit TWinRegistryKey(HKEY key) : FKey(key) {}
  ~TWinRegistryKey() override { RegCloseKey(FKey); }

  std::string ReadString(const std::string& name) override {
    std::wstring wideName = WideFromUtf8(name);
    DWORD type = 0;
    DWORD size = 0;
    LONG code = RegQueryValueExW(FKey, wideName.c_str(), nullptr, &type, nullptr, &size);
    if (code == ERROR_FILE_NOT_FOUND) return std::string();
    if (code != ERROR_SUCCESS) Fail("RegQueryValueExW", code);
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    code = RegQueryValueExW(FKey, wideName.c_str(), nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &size);
    if (code != ERROR_SUCCESS) Fail("RegQueryValueExW", code);
    size_t length = size / sizeof(wchar_t);
    while (length > 0 && data[length - 1] == L'\0') --length;  // stored terminators
    return Utf8FromWide(std::wstring_view(data.data(), length));
  }

  void WriteString(const std::string& name, const std::string& value) override {
    std::wstring wideValue = WideFromUtf8(value);
    LONG code = RegSetValueExW(FKey, WideFromUtf8(name).c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(wideValue.c_str()),
                               static_cast<DWORD>((wideValue.size() + 1) * sizeof(wchar_t)));
    if (code != ERROR_SUCCESS) Fail("RegSetValueExW", code);
  }

 private:
  HKEY FKey;
};

class TWinRegistryStore : public IRegistryStore {
 public:
  std::unique_ptr<IRegistryKey> OpenKey(const std::string& path) override {
    HKEY key = nullptr;
    LONG code = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Relative(path).c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (code != ERROR_SUCCESS) Fail("RegCreateKeyExW", code);
    return std::make_unique<TWinRegistryKey>(key);
  }

  std::unique_ptr<IRegistryKey> OpenKeyForReading(const std::string& path) override {
    HKEY key = nullptr;
    LONG code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Relative(path).c_str(), 0, KEY_READ, &key);
    if (code == ERROR_FILE_NOT_FOUND) return nullptr;
    if (code != ERROR_SUCCESS) Fail("RegOpenKeyExW", code);
    return std::make_unique<TWinRegistryKey>(key);
  }

 private:
  static std::wstring Relative(const std::string& path) {  // every path is rooted at HKLM
    return WideFromUtf8(!path.empty() && path.front() == '\\' ? path.substr(1) : path);
  }
};

}  // namespace

std::unique_ptr<IRegistryStore> LocalMachineRegistry() {
  return std::make_unique<TWinRegistryStore>();
}

}  // namespace vorlen
