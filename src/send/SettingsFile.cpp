#include "send/SettingsFile.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "runtime/Stream.h"
#include "send/OperatorTexts.h"

namespace vorlen {

const char* const SettingsFileName = "sendcfg.ini";

const std::vector<std::string_view> KeptSettingNames = {"parallel", "cert"};

namespace {

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 to UTF-8; unpaired surrogates and a dangling odd byte become U+FFFD so that nothing
// disappears silently.
std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian) {
  auto unit = [&](size_t i) -> uint32_t {
    auto hi = static_cast<uint8_t>(bytes[bigEndian ? i : i + 1]);
    auto lo = static_cast<uint8_t>(bytes[bigEndian ? i + 1 : i]);
    return (static_cast<uint32_t>(hi) << 8) | lo;
  };
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, code >= 0xD800 && code <= 0xDFFF ? 0xFFFD : code);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

// Asks for value while it is blank; false when the operator cancelled and is not asked again.
// The blank test trims; the stored value keeps its spaces.
bool PromptUntilFilled(IOperatorView& view, bool untilFilled, const char* caption,
                       const char* prompt, std::string& value, bool& changed) {
  while (IsBlankSetting(value)) {
    std::string edited = value;
    if (view.InputQuery(caption, prompt, edited)) {
      value = std::move(edited);
      changed = true;
    } else if (!untilFilled) {
      return false;
    }
  }
  return true;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// A blank value gives way to a later place's non-empty one; spaces alone are kept when nothing
// better comes, so that the prompt shows them.
void TakeIfBlank(std::string& value, const std::string& later) {
  if (IsBlankSetting(value) && !later.empty() && (value.empty() || !IsBlankSetting(later)))
    value = later;
}

}  // namespace

std::string DecodeSettingsText(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  if (StartsWith(bytes, "\xFF\xFE")) return Utf8FromUtf16(bytes.substr(2), false);
  if (StartsWith(bytes, "\xFE\xFF")) return Utf8FromUtf16(bytes.substr(2), true);
  return Utf8FromAnsi(bytes);
}

std::string SettingValue(std::string_view text, std::string_view name) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    size_t equals = line.find('=');
    if (equals != std::string_view::npos && SameTextAscii(line.substr(0, equals), name)) {
      return std::string(line.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;  // CR LF
  }
  return std::string();
}

TSettingEntries KeptSettings(std::string_view text) {
  TSettingEntries entries;
  for (std::string_view name : KeptSettingNames) {
    std::string value = SettingValue(text, name);
    if (!value.empty()) entries.push_back({std::string(name), std::move(value)});
  }
  return entries;
}

std::string EntryValue(const TSettingEntries& entries, std::string_view name) {
  for (const TSettingEntry& entry : entries) {
    if (SameTextAscii(entry.Name, name)) return entry.Value;
  }
  return std::string();
}

void SetEntryValue(TSettingEntries& entries, std::string_view name, const std::string& value) {
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (!SameTextAscii(it->Name, name)) continue;
    if (value.empty()) {
      entries.erase(it);
    } else {
      it->Value = value;
    }
    return;
  }
  if (!value.empty()) entries.push_back({std::string(name), value});
}

std::string EncodeSettings(const std::string& url, const std::string& org,
                           const TSettingEntries& more) {
  std::string text = "url=" + url + "\r\n" + "org=" + org + "\r\n";
  for (const TSettingEntry& entry : more) text += entry.Name + "=" + entry.Value + "\r\n";
  return AnsiFromUtf8(text);
}

bool IsBlankSetting(std::string_view value) {
  for (char c : value) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

std::string ReadSettingsFile(const std::string& path) {
  TFileStream file(path, TFileStream::fmOpenRead);
  std::string bytes(static_cast<size_t>(file.Size()), '\0');
  file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return DecodeSettingsText(bytes);
}

TSenderSettings ReadSenderSettings(const std::string& path, IOperatorView& view, bool untilFilled,
                                   const std::optional<std::string>& url,
                                   const std::optional<std::string>& org) {
  return ReadSenderSettings(TSettingsSources{{path}, path, {}, {}}, view, untilFilled, url, org);
}

TSenderSettings ReadSenderSettings(const TSettingsSources& sources, IOperatorView& view,
                                   bool untilFilled, const std::optional<std::string>& url,
                                   const std::optional<std::string>& org) {
  TSenderSettings settings;
  if (!url || !org) {
    for (const std::string& path : sources.Paths) {
      std::error_code error;
      // When existence cannot even be told, reading is tried so that the operator sees why.
      if (!std::filesystem::exists(FsPathFromUtf8(path), error) && !error) continue;
      const std::string text = ReadSettingsFile(path);
      const std::string fileUrl = SettingValue(text, "url");
      const std::string fileOrg = SettingValue(text, "org");
      if (path == sources.WritePath) {
        settings.OwnUrl = fileUrl;
        settings.OwnOrg = fileOrg;
        settings.OwnMore = KeptSettings(text);
      }
      TakeIfBlank(settings.Url, fileUrl);
      TakeIfBlank(settings.Org, fileOrg);
      for (const TSettingEntry& entry : KeptSettings(text)) {
        if (EntryValue(settings.More, entry.Name).empty())
          SetEntryValue(settings.More, entry.Name, entry.Value);
      }
    }
    TakeIfBlank(settings.Url, sources.MachineUrl);
    TakeIfBlank(settings.Org, sources.MachineOrg);
  }
  if (url) settings.Url = *url;
  if (org) settings.Org = *org;
  bool urlChanged = false;
  bool orgChanged = false;
  if (PromptUntilFilled(view, untilFilled, UrlPromptCaption, UrlPrompt, settings.Url, urlChanged))
    PromptUntilFilled(view, untilFilled, OrgPromptCaption, OrgPrompt, settings.Org, orgChanged);
  if (urlChanged) settings.OwnUrl = settings.Url;
  if (orgChanged) settings.OwnOrg = settings.Org;
  settings.Changed = urlChanged || orgChanged;
  return settings;
}

void WriteSettingsFile(const std::string& path, const std::string& bytes) {
  TFileStream file(path, TFileStream::fmCreate);
  file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace vorlen
