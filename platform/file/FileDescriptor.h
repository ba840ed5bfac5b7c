// Files at the level of descriptors: an owning descriptor, reads and writes that carry on
// through signals and short transfers, anonymous temporary files. A failed read or write of file
// data raises odbc::errors::IoError.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors/Errors.h"

namespace quillon::file {

// Runs `call` again while it fails with EINTR; returns its last result (errno tells why).
template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    const auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

// Owns one open file descriptor and closes it when destroyed.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return m_fd; }
  bool IsOpen() const { return m_fd >= 0; }
  // Gives up ownership and returns the descriptor.
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  // Closes now; a failure (a write the kernel could not finish) throws odbc::errors::IoError.
  void Close(const std::string& pathForMessage);

 private:
  int m_fd = -1;
};

// Writes all of `data` at `offset` (or at the current position when offset < 0); throws
// odbc::errors::IoError naming `path` when the file takes less.
void WriteAll(int fd, const void* data, std::size_t size, off_t offset, const std::string& path);
// Reads up to `size` bytes at `offset` (current position when offset < 0), stopping early only
// at the end of the file; returns the count read. Throws odbc::errors::IoError.
std::size_t ReadAll(int fd, void* data, std::size_t size, off_t offset, const std::string& path);
// fsync; throws odbc::errors::IoError.
void Sync(int fd, const std::string& path);

// The folder for temporary files: $TMPDIR when set and not empty, else /tmp.
std::string TemporaryFolder();
// A temporary file in `folder` open for reading and writing that has no name: O_TMPFILE, or,
// where the file system lacks it, a file removed again as soon as it is made. Throws
// odbc::errors::IoError naming the folder.
FileDescriptor OpenAnonymousFile(const std::string& folder);

// The names a temporary file takes where it needs one: short, so that a file of any legal name
// can have one beside it, and hidden.
inline constexpr const char* kTemporaryPrefix = ".quillon-";
inline constexpr std::size_t kRandomNameLength = 6;
// kRandomNameLength random letters and digits.
std::string RandomName();

}  // namespace quillon::file
