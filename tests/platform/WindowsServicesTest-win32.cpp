// The Windows services behind the platform interfaces, run under a Bulgarian user locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/SettingsDir.h"
#include "platform/TempFiles.h"
#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "runtime/WindowsText.h"

using namespace vorlen;
namespace fs = std::filesystem;

namespace {

// A fresh folder under the system's temporary directory, removed with its content.
class TWinScratch {
 public:
  explicit TWinScratch(const std::string& name) : FPath(SystemTempDir() + "\\" + name) {
    fs::remove_all(Extended());
    fs::create_directory(Extended());
  }
  ~TWinScratch() {
    std::error_code ignored;
    fs::remove_all(Extended(), ignored);
  }
  const std::string& Path() const { return FPath; }

 private:
  // std::filesystem adds no "\\?\" itself: below a prefixed root it reaches long paths too.
  fs::path Extended() const { return fs::path(L"\\\\?\\" + WideFromUtf8(FPath)); }

  std::string FPath;
};

TEST(WindowsServices, BulgarianLocaleGivesWindows1251AndItsShortDate) {
  ASSERT_EQ(GetACP(), 1251u) << "the suite runs with a Bulgarian locale (LC_ALL=bg_BG.UTF-8)";
  EXPECT_EQ(AnsiFromUtf8("Отчет"), "\xCE\xF2\xF7\xE5\xF2");
  EXPECT_EQ(LocalShortDateOf(2026, 12, 8), "8.12.2026 г.");
  EXPECT_EQ(LocalShortDateOf(2027, 1, 31), "31.01.2027 г.");
}

TEST(WindowsServices, RegistryKeepsUnicodeStringsUnderLocalMachine) {
  const std::string path = "\\SOFTWARE\\Vorlen Test\\Ключ";
  {
    auto key = LocalMachineRegistry()->OpenKey(path);
    key->WriteString("C:\\Програми\\vorlen-sender.exe", "~ DisableNXShowUI");
    EXPECT_EQ(key->ReadString("C:\\Програми\\vorlen-sender.exe"), "~ DisableNXShowUI");
    EXPECT_EQ(key->ReadString("missing"), "");
  }
  // A second opening finds what the first wrote: it reached the registry, not a cache.
  EXPECT_EQ(LocalMachineRegistry()
                ->OpenKey(path.substr(1))
                ->ReadString("C:\\Програми\\vorlen-sender.exe"),
            "~ DisableNXShowUI");
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS, &parent),
            ERROR_SUCCESS);
  DWORD number = 7;
  RegSetKeyValueW(parent, WideFromUtf8("Vorlen Test\\Ключ").c_str(), L"number", REG_DWORD, &number,
                  sizeof number);
  EXPECT_THROW(LocalMachineRegistry()->OpenKey(path)->ReadString("number"), ERegistryException);
  // Reading opens without creating: a missing key is none, an existing one is read.
  EXPECT_EQ(LocalMachineRegistry()->OpenKeyForReading(path + "\\missing"), nullptr);
  EXPECT_EQ(LocalMachineRegistry()->OpenKeyForReading(path + "\\missing"), nullptr);
  auto reading = LocalMachineRegistry()->OpenKeyForReading(path);
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(reading->ReadString("C:\\Програми\\vorlen-sender.exe"), "~ DisableNXShowUI");
  reading.reset();
  RegDeleteTreeW(parent, L"Vorlen Test");
  RegCloseKey(parent);
}

// A program the user may change keeps its settings beside itself; one in Program Files (which
// Wine lets anybody write to) reads its folder, then %APPDATA%\Vorlen Sender\ (made, and
// written), then the machine's.
TEST(WindowsServices, SettingsPlacesOfAPerUserAndAPerMachineProgram) {
  TWinScratch scratch("vorlen-places");
  const std::string own = scratch.Path() + "\\";
  const TSettingsPlaces user = SettingsPlaces(own);
  EXPECT_EQ(user.ReadDirs, std::vector<std::string>{own});
  EXPECT_EQ(user.WriteDir, own);
  EXPECT_FALSE(user.MachineSettings);

  const std::string programFiles = GetEnvironmentVariableIgnoreCase("ProgramFiles");
  ASSERT_FALSE(programFiles.empty());
  const std::string installed = programFiles + "\\Vorlen Test\\";
  const std::string appData = GetEnvironmentVariableIgnoreCase("APPDATA") + "\\Vorlen Sender\\";
  const TSettingsPlaces machine = SettingsPlaces(installed);
  EXPECT_EQ(machine.ReadDirs, (std::vector<std::string>{installed, appData}));
  EXPECT_EQ(machine.WriteDir, appData);
  EXPECT_TRUE(machine.MachineSettings);
  EXPECT_TRUE(fs::is_directory(fs::path(WideFromUtf8(appData))));
}

TEST(WindowsServices, TempFilesAndTmpFoundWhateverItsCase) {
  TWinScratch scratch("Временни");
  const std::string first = CreateTempFile(scratch.Path(), "ZLB");
  const std::string second = CreateTempFile(scratch.Path(), "ZLB");
  EXPECT_NE(first, second);
  EXPECT_EQ(ExtractFileDir(first), scratch.Path() + "\\");
  EXPECT_EQ(ExtractFileName(first).rfind("ZLB", 0), 0u) << first;
  EXPECT_EQ(ExtractFileExt(first), ".tmp");
  EXPECT_TRUE(PathExists(first));
  EXPECT_THROW(CreateTempFile(scratch.Path() + "\\missing", "ZLB"), Exception);

  const std::string oldTmp = GetEnvironmentVariableIgnoreCase("TMP");
  ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", WideFromUtf8(scratch.Path()).c_str()));
  EXPECT_EQ(GetEnvironmentVariableIgnoreCase("Tmp"), scratch.Path());
  SetEnvironmentVariableW(L"TMP", WideFromUtf8(oldTmp).c_str());
  EXPECT_EQ(ExtractFileName(ExecutablePath()), "platform_tests.exe");
}

TEST(WindowsServices, PathsLongerThanMaxPathAreNotCut) {
  TWinScratch scratch("Дълъг път");
  std::vector<std::string> dirs{scratch.Path()};
  while (WideFromUtf8(dirs.back()).size() < 300) {
    dirs.push_back(dirs.back() + "\\Папка с дълго име за проба");
    ASSERT_TRUE(CreateDirectoryW(WidePath(dirs.back()).c_str(), nullptr)) << LastErrorText();
  }
  const std::string file = dirs.back() + "\\Отчет.pdf";
  ASSERT_GT(WideFromUtf8(file).size(), static_cast<size_t>(MAX_PATH));
  {
    TFileStream stream(file, TFileStream::fmCreate);
    stream.WriteBuffer("report", 6);
  }
  {
    TFileStream stream(file, TFileStream::fmOpenRead);
    EXPECT_EQ(stream.Size(), 6);
  }
  // Taken down by hand: std::filesystem walks long trees no better than Wine lets it.
  EXPECT_TRUE(DeleteFileW(WidePath(file).c_str())) << LastErrorText();
  for (size_t i = dirs.size() - 1; i > 0; --i)
    EXPECT_TRUE(RemoveDirectoryW(WidePath(dirs[i]).c_str())) << LastErrorText();
}

}  // namespace

// Standard input redirected from a file: UTF-8 (its byte-order mark dropped), and a line that is
// not UTF-8 in the console's input code page, 866 at a Bulgarian console.
TEST(WindowsServices, RedirectedInputIsUtf8OrTheConsoleCodePage) {
  TWinScratch scratch("vorlen-input");
  const std::string path = scratch.Path() + "\\answers.txt";
  {
    TFileStream file(path, TFileStream::fmCreate);
    const std::string bytes = "\xEF\xBB\xBF\xD0\x94\xD0\xB0\r\n\xAD\xA5\r\nyes";  // Да, не (866)
    file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  const UINT savedPage = GetConsoleCP();
  SetConsoleCP(866);  // fails where there is no console: the OEM code page serves then
  ASSERT_EQ(866u, GetConsoleCP() != 0 ? GetConsoleCP() : GetOEMCP());
  const HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  SetStdHandle(STD_INPUT_HANDLE, file);
  std::vector<std::string> lines;
  {
    TConsoleInput in;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(file);
  if (savedPage != 0) SetConsoleCP(savedPage);
  EXPECT_EQ(lines, (std::vector<std::string>{"Да", "не", "yes"}));
}
