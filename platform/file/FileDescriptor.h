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

// Copies the first `size` bytes of the file open on `from` to the same offsets of the file open
// on `to`, skipping the holes of `from` where its file system reports them (SEEK_DATA, SEEK_HOLE),
// so that a hole stays a hole; `to` is then cut or extended to `size`. The data goes through the
// kernel (copy_file_range: a shared extent on file systems that can share one, no trip through
// this process elsewhere) and through a buffer where the kernel cannot copy between the two
// files. Throws odbc::errors::IoError naming `fromPath` or `toPath`.
void CopyFileContent(int from, int to, std::uint64_t size, const std::string& fromPath, const std::string& toPath);

// The kernel's copy that CopyFileContent calls (copy_file_range's signature); tests put in one
// that fails to take the buffered way. Returns the one it replaces.
using KernelCopy = ssize_t (*)(int, off_t*, int, off_t*, std::size_t, unsigned);
KernelCopy SetKernelCopy(KernelCopy copy);

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
