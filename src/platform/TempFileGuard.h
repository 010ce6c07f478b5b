// Removes a temporary file or folder (with everything in it) when the scope ends, unless Keep()
// was called: a failed or finished operation must not leave its temporary files behind.
#pragma once

#include <filesystem>
#include <utility>

namespace vorlen {

class TTempFileGuard {
 public:
  TTempFileGuard() = default;
  explicit TTempFileGuard(std::filesystem::path path) : FPath(std::move(path)) {}
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;
  ~TTempFileGuard() { Remove(); }

  // Guards path from now on; whatever was guarded before is removed first.
  void Reset(std::filesystem::path path);
  // The path stays; nothing is removed.
  void Keep() { FPath.clear(); }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  void Remove() noexcept;

  std::filesystem::path FPath;
};

}  // namespace vorlen
