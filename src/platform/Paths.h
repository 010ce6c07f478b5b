// Splitting paths into directory and name parts the way the archive and the shell expect.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vorlen {

// The separator the platform writes: "\\" on Windows, "/" elsewhere.
extern const char PathDelim;

// True for the characters that end a directory part ("\", "/" and ":" on Windows, "/" elsewhere).
bool IsPathDelimiter(char c);

// The directory part of path including its trailing separator; empty when there is none.
std::string ExtractFileDir(std::string_view path);
// The name part of path: everything after the directory part.
std::string ExtractFileName(std::string_view path);
// The extension of the name part, from its last "." (dot included); empty when it has none.
std::string ExtractFileExt(std::string_view path);
// text without everything up to and including its first ":" (unchanged when it has none).
std::string RemoveDrive(std::string_view text);

// The program's UTF-8 text as a path for std::filesystem, and back (a plain std::string would be
// read in the ANSI code page on Windows).
std::filesystem::path FsPathFromUtf8(std::string_view utf8);
std::string Utf8FromFsPath(const std::filesystem::path& path);

// Whether anything (file, directory, ...) is at path, and whether it is a directory; errors
// count as no.
bool PathExists(std::string_view utf8);
bool DirectoryExists(std::string_view utf8);

// Archives store paths with backslashes whatever system wrote them.
std::string StoredPathFromNative(std::string_view path);
// A stored path with the platform's separator in place of every backslash.
std::string NativePathFromStored(std::string_view path);

}  // namespace vorlen
