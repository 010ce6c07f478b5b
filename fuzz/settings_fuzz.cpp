// Any bytes as sendcfg.ini: decoded, its two lines and the kept settings read, written back and
// read again. What a rewrite keeps must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/Exception.h"
#include "send/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlen;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const std::string text = DecodeSettingsText(bytes);
    const std::string url = SettingValue(text, "url");
    const std::string org = SettingValue(text, "org");
    const TSettingEntries kept = KeptSettings(text);
    (void)IsBlankSetting(url);
    const std::string again = DecodeSettingsText(EncodeSettings(url, org, kept));
    // Values the ANSI code page cannot hold come back as "?", so only ASCII ones must survive.
    const auto ascii = [](const std::string& s) {
      for (unsigned char c : s) {
        if (c >= 0x80 || c == '\r' || c == '\n') return false;
      }
      return true;
    };
    if (ascii(url) && ascii(org) && (SettingValue(again, "url") != url ||
                                     SettingValue(again, "org") != org)) {
      std::abort();
    }
  } catch (const Exception&) {
  }
  return 0;
}
