// Runs the built vorlen-archive program and checks its output, exit status and files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "archive/ArchiveTestSupport.h"

#ifndef VORLEN_ARCHIVE_TOOL
#error "VORLEN_ARCHIVE_TOOL names the program under test"
#endif

namespace vorlen {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadFile;
using test::TScratchDir;
using test::WriteFile;

struct TRun {
  int Status;
  std::string Out;
  std::string Err;
};

std::string Quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// Runs the tool in dir with the given arguments (already quoted where needed).
TRun RunTool(const TScratchDir& dir, const std::string& arguments) {
  const std::string out = dir / "stdout.txt";
  const std::string err = dir / "stderr.txt";
  const std::string command = "cd " + Quoted(dir.Path().string()) + " && " +
                              Quoted(VORLEN_ARCHIVE_TOOL) + " " + arguments + " >" + Quoted(out) +
                              " 2>" + Quoted(err);
  const int status = std::system(command.c_str());
  TRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
  fs::remove(out);
  fs::remove(err);
  return run;
}

std::string StoredSizeAtLevel9(const std::string& bytes) {
  return std::to_string(test::Deflate(bytes, 9).size());
}

TEST(ArchiveTool, CreatesListsTestsExtendsAndExtracts) {
  TScratchDir dir;
  const std::string zeros(100000, '\0');
  WriteFile(dir / "a.txt", "abc");
  WriteFile(dir / "z.bin", zeros);
  fs::create_directories(dir.Path() / "d" / "e");
  WriteFile(dir / "d/e/f.txt", "hi\n");

  TRun run = RunTool(dir, "c -9 -j 3 arc.rar a.txt z.bin");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const std::string zLine = "    100000 " +
                            std::string(10 - StoredSizeAtLevel9(zeros).size(), ' ') +
                            StoredSizeAtLevel9(zeros) + " D411957D maximum z.bin\n";
  run = RunTool(dir, "l arc.rar");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "         3          3 352441C2 raw     a.txt\n" + zLine);

  // Extending: a directory walked with its path kept, and a missing file reported.
  run = RunTool(dir, "c -r -p -1 arc.rar d missing.txt");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "vorlen-archive: Unable to open file (missing.txt)\n");
  run = RunTool(dir, "l arc.rar");
  EXPECT_EQ(run.Out, "         3          3 352441C2 raw     a.txt\n" + zLine +
                         "         3          3 ED6F7A7A raw     d\\e\\f.txt\n");

  run = RunTool(dir, "t arc.rar");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "arc.rar: 3 members, all sound\n");

  run = RunTool(dir, "x arc.rar out");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "3 members extracted to out\n");
  EXPECT_EQ(ListTree(dir.Path() / "out"),
            (std::set<std::string>{"a.txt", "z.bin", "d", "d/e", "d/e/f.txt"}));
  EXPECT_EQ(ReadFile(dir.Path() / "out" / "z.bin"), zeros);
  EXPECT_EQ(ReadFile(dir.Path() / "out" / "d" / "e" / "f.txt"), "hi\n");
}

TEST(ArchiveTool, RejectsBadUsage) {
  TScratchDir dir;
  TRun run = RunTool(dir, "--help");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out.rfind("Usage: vorlen-archive COMMAND ...\n", 0), 0u);
  const struct {
    const char* Arguments;
    const char* Problem;
  } cases[] = {
      {"", "no command given"},
      {"q arc.rar", "unknown command q"},
      {"c arc.rar", "c needs an archive and at least one file"},
      {"c -7 arc.rar a.txt", "unknown option -7"},
      {"c -j 0 arc.rar a.txt", "-j needs a number of threads from 1 to 64, not \"0\""},
      {"c -j 65 arc.rar a.txt", "-j needs a number of threads from 1 to 64, not \"65\""},
      {"l", "l needs exactly one archive"},
      {"t a.rar b.rar", "t needs exactly one archive"},
      {"x arc.rar", "x needs an archive and a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Arguments);
    run = RunTool(dir, c.Arguments);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err,
              std::string("vorlen-archive: ") + c.Problem + "\nTry 'vorlen-archive --help'.\n");
    EXPECT_EQ(run.Out, "");
  }
  EXPECT_EQ(ListTree(dir.Path()), std::set<std::string>{});
}

TEST(ArchiveTool, ReportsUnsoundArchivesAndLeavesFilesAlone) {
  TScratchDir dir;
  TRun run = RunTool(dir, "l missing.rar");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "vorlen-archive: Archive file not found\n");

  test::TArchiveBuilder builder;
  builder.AddRaw("good.txt", "", "good");
  builder.AddRaw("bad.txt", "", "bad").Crc = 0x12345678;
  builder.AddRaw("x", "..\\", "escape");
  WriteFile(dir / "bad.rar", builder.Build());
  run = RunTool(dir, "t bad.rar");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err,
            "vorlen-archive: Archive member bad.txt is damaged: CRC-32 822B39FB instead of "
            "12345678\n"
            "vorlen-archive: Refusing to extract \"..\\x\": its stored path has the component "
            "\"..\"\n");
  run = RunTool(dir, "x bad.rar out");
  EXPECT_EQ(run.Status, 1);
  EXPECT_FALSE(fs::exists(dir.Path() / "out"));

  // Control characters in stored names never reach the terminal.
  test::TArchiveBuilder hostile;
  hostile.AddRaw("clear\x1b[2J\x07.txt", "", "x");
  WriteFile(dir / "hostile.rar", hostile.Build());
  run = RunTool(dir, "l hostile.rar");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "         1          1 8CDC1683 raw     clear?[2J?.txt\n");
  run = RunTool(dir, "t hostile.rar");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err,
            "vorlen-archive: Refusing to extract \"clear?[2J?.txt\": its stored path has a control "
            "character\n");
  fs::remove(dir.Path() / "hostile.rar");

  // Extending a corrupted archive changes nothing.
  std::string corrupt = builder.Build();
  corrupt[0] ^= 1;
  WriteFile(dir / "corrupt.rar", corrupt);
  WriteFile(dir / "a.txt", "abc");
  run = RunTool(dir, "c corrupt.rar a.txt");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "vorlen-archive: The archive file appears to be corrupted\n");
  EXPECT_EQ(ReadFile(dir.Path() / "corrupt.rar"), corrupt);
  run = RunTool(dir, "t corrupt.rar");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "vorlen-archive: The archive file appears to be corrupted\n");
  // An archive that cannot be put in place is reported, not passed over.
  run = RunTool(dir, "c nodir/new.rar a.txt");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "vorlen-archive: nodir/new.rar could not be written\n");
  EXPECT_EQ(ListTree(dir.Path()), (std::set<std::string>{"a.txt", "bad.rar", "corrupt.rar"}));
}

}  // namespace
}  // namespace vorlen
