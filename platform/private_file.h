#pragma once
// A file this process writes and keeps open, in a folder only its user can enter, so that it
// can later tell whether the file on disk is still exactly the one it wrote.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace Platform {

// What changes when a file is replaced, written, truncated, linked or has its mode changed.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;  // status change: no one can set it back
  uint32_t mode = 0;
  uint64_t links = 0;
  uint32_t owner = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the entry at `path` itself (a link is not followed); nothing when missing.
std::optional<FileIdentity> PathIdentity(const std::filesystem::path& path);

class CPrivateFile {
 public:
  CPrivateFile() = default;
  ~CPrivateFile();
  CPrivateFile(const CPrivateFile&) = delete;
  CPrivateFile& operator=(const CPrivateFile&) = delete;

  // Opens `path` for writing, empty (created 0600 when missing). False when it is a link, not
  // a regular file, not the user's own or has other names.
  bool Create(const std::filesystem::path& path);
  // Appends all bytes; false when they could not all be written.
  bool Write(const void* data, size_t size);
  // Ends the writing: makes the file runnable by its owner only and keeps it open for reading
  // alone (a program cannot be started while a writer holds its file).
  bool Seal();
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  // The identity of the open file.
  std::optional<FileIdentity> Identity() const;

 private:
  int m_fd = -1;
  bool m_writing = false;
};

// True when no one but this user (and the superuser) may create, rename or delete entries in
// the folder `path`: a real folder owned by the user without group or other write access, with
// an absolute path whose every folder above belongs to root or the user and is either closed
// to others' writes or sticky (as /tmp is), so no one else can move a folder of the path aside.
bool IsPrivateFolder(const std::filesystem::path& path);

// True when every folder above the absolute path `path` belongs to root or this user and is
// either closed to others' writes or sticky.
bool AncestorsAreSafe(const std::filesystem::path& path);

}  // namespace Platform
