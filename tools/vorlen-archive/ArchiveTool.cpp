#include "ArchiveTool.h"

#include <ostream>

#include "archive/ArchiveReader.h"
#include "archive/ZLBArchive.h"
#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

namespace {

constexpr const char* kUsage =
    "Usage: vorlen-archive COMMAND ...\n"
    "\n"
    "  c [-0|-1|-6|-9] [-r] [-p] [-j N] ARCHIVE FILE...\n"
    "        add files to ARCHIVE, creating it when it does not exist\n"
    "        -0 store only, -1 fastest, -6 default (the default), -9 maximum compression\n"
    "        -r walk directories named in FILE...\n"
    "        -p keep each file's directory (without its drive) in the archive\n"
    "        -j N compress on at most N threads (1 to 64; default: one per core); the\n"
    "             archive's bytes are the same whatever N is\n"
    "  l ARCHIVE\n"
    "        list the members: size, stored size, CRC-32, method, stored path and name\n"
    "  t ARCHIVE\n"
    "        check the archive and every member; exit status 0 only when all are sound\n"
    "  x ARCHIVE DIR\n"
    "        extract every member below DIR; on any error nothing is left behind\n"
    "  --help\n"
    "        show this text\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.\n";

// Names come from the archive, which may be hostile: control characters would reach the
// terminal as commands, so they are shown as "?".
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "vorlen-archive: " << problem << "\nTry 'vorlen-archive --help'.\n";
  return teUsage;
}

const char* MethodName(const TArchiveMember& entry) {
  if (entry.StoredRaw == 1) return "raw";
  switch (entry.Level) {
    case fcNone:
      return "none";
    case fcFastest:
      return "fastest";
    case fcDefault:
      return "default";
    case fcMaximum:
      return "maximum";
  }
  return "unknown";
}

int Create(const std::vector<std::string>& args, std::ostream& err) {
  TZLBArchive archive;
  size_t i = 1;
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
    const std::string& option = args[i];
    if (option == "-0")
      archive.CompressionLevel = fcNone;
    else if (option == "-1")
      archive.CompressionLevel = fcFastest;
    else if (option == "-6")
      archive.CompressionLevel = fcDefault;
    else if (option == "-9")
      archive.CompressionLevel = fcMaximum;
    else if (option == "-r")
      archive.RecursePaths = true;
    else if (option == "-p")
      archive.SavePaths = true;
    else if (option == "-j") {
      const std::string count = i + 1 < args.size() ? args[++i] : std::string();
      const bool digits = !count.empty() && count.size() <= 2 &&
                          count.find_first_not_of("0123456789") == std::string::npos;
      const int n = digits ? std::stoi(count) : 0;
      if (n < 1 || n > 64)
        return Usage(
            err, Format("-j needs a number of threads from 1 to 64, not \"%s\"", count.c_str()));
      archive.CompressionThreads = n;
    } else
      return Usage(err, Format("unknown option %s", option.c_str()));
  }
  if (args.size() - i < 2) return Usage(err, "c needs an archive and at least one file");
  const std::string archiveName = args[i];
  std::vector<std::string> files(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  // A plain file among the items must show up as a new entry unless its failure was reported.
  bool expectsEntry = false;
  for (const std::string& file : files) expectsEntry = expectsEntry || !DirectoryExists(file);

  bool logged = false;
  archive.OnErrorLogged = [&err, &logged](const std::string& message) {
    err << "vorlen-archive: " << Printable(message) << "\n";
    logged = true;
  };
  const bool existed = PathExists(archiveName);
  if (existed)
    archive.OpenArchive(archiveName);
  else
    archive.CreateArchive(archiveName);
  const int32_t before = archive.EntryCount();
  archive.AddFiles(files);
  // AddFiles keeps its own failures to itself and leaves the old archive in place; what it
  // leaves behind tells whether the new archive was written.
  const bool written = files.empty() && !archive.ArchiveName().empty() && !archive.IsNewArchive() &&
                       PathExists(archiveName) &&
                       (logged || !expectsEntry || archive.EntryCount() > before);
  archive.CloseArchive();
  if (!written) {
    err << "vorlen-archive: " << archiveName << " could not be written"
        << (existed ? "; it is as it was\n" : "\n");
    return teFailed;
  }
  return logged ? teFailed : teOk;
}

int List(const std::string& archiveName, std::ostream& out) {
  TArchiveReader reader(archiveName);
  for (size_t i = 0; i < reader.Entries().size(); ++i) {
    const TArchiveMember& entry = reader.Entries()[i];
    out << Format("%10d %10d %08X %-7s %s\n", entry.FileSize, entry.StoredSize, entry.Crc,
                  MethodName(entry), Printable(reader.StoredName(i)).c_str());
  }
  return teOk;
}

int Test(const std::string& archiveName, std::ostream& out, std::ostream& err) {
  TArchiveReader reader(archiveName);
  bool sound = true;
  for (size_t i = 0; i < reader.Entries().size(); ++i) {
    try {
      reader.RelativePath(i);
      reader.VerifyMember(i);
    } catch (const Exception& error) {
      err << "vorlen-archive: " << Printable(error.what()) << "\n";
      sound = false;
    }
  }
  if (!sound) return teFailed;
  out << Format("%s: %zu members, all sound\n", archiveName.c_str(), reader.Entries().size());
  return teOk;
}

int Extract(const std::string& archiveName, const std::string& dir, std::ostream& out) {
  TArchiveReader reader(archiveName);
  reader.ExtractAll(dir);
  out << Format("%zu members extracted to %s\n", reader.Entries().size(), dir.c_str());
  return teOk;
}

}  // namespace

int RunArchiveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, "no command given");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    out << kUsage;
    return teOk;
  }
  try {
    if (command == "c") return Create(args, err);
    if (command == "l" || command == "t") {
      if (args.size() != 2)
        return Usage(err, Format("%s needs exactly one archive", command.c_str()));
      return command == "l" ? List(args[1], out) : Test(args[1], out, err);
    }
    if (command == "x") {
      if (args.size() != 3) return Usage(err, "x needs an archive and a directory");
      return Extract(args[1], args[2], out);
    }
  } catch (const std::exception& error) {
    err << "vorlen-archive: " << Printable(error.what()) << "\n";
    return teFailed;
  }
  return Usage(err, Format("unknown command %s", command.c_str()));
}

}  // namespace vorlen
