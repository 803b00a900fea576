#pragma once
// A fresh folder under the system temporary folder, removed with everything in it.
#include <filesystem>

namespace TestSupport {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

}  // namespace TestSupport
