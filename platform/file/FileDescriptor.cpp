#include "platform/file/FileDescriptor.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::file {
namespace {

constexpr const char* kDefaultTemporaryFolder = "/tmp";
constexpr int kNameAttempts = 100;
// The buffer of a copy the kernel cannot do, and the most one kernel call is asked to copy.
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;
constexpr std::size_t kKernelCopyChunk = std::size_t{1} << 30;

KernelCopy g_kernelCopy = ::copy_file_range;

// Errors by which the kernel says it cannot copy between these two files (other file systems,
// a file system or kernel without the call, files it does not take): the buffer does it.
bool KernelCannotCopy(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP ||
         error == EBADF || error == ETXTBSY || error == EPERM;
}

// Copies [offset, end) and returns where the copy stopped: `end`, or the end of `from` if that
// comes first.
off_t CopyRange(int from, int to, off_t offset, off_t end, const std::string& fromPath, const std::string& toPath) {
  while (offset < end) {
    off_t in = offset, out = offset;
    const auto want = static_cast<std::size_t>(std::min<off_t>(end - offset, static_cast<off_t>(kKernelCopyChunk)));
    const ssize_t n = RetryOnInterrupt([&] { return g_kernelCopy(from, &in, to, &out, want, 0); });
    if (n > 0) {
      offset += n;
      continue;
    }
    // Nothing copied (some file systems report 0 before the end) or refused: the buffer carries
    // on from here and finds the true end.
    if (n < 0 && !KernelCannotCopy(errno)) throw odbc::errors::IoError(L"Could not write", toPath, errno);
    break;
  }
  std::vector<std::uint8_t> buffer;
  while (offset < end) {
    if (buffer.empty()) buffer.resize(kCopyBuffer);
    const auto want = static_cast<std::size_t>(std::min<off_t>(end - offset, static_cast<off_t>(buffer.size())));
    const std::size_t n = ReadAll(from, buffer.data(), want, offset, fromPath);
    if (n == 0) break;
    WriteAll(to, buffer.data(), n, offset, toPath);
    offset += static_cast<off_t>(n);
  }
  return offset;
}

bool LacksTmpfile(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (m_fd >= 0) ::close(m_fd);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = other.Release();
  }
  return *this;
}

void FileDescriptor::Close(const std::string& pathForMessage) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (m_fd >= 0 && ::close(Release()) != 0 && errno != EINTR)
    throw odbc::errors::IoError(L"Could not write", pathForMessage, errno);
}

void WriteAll(int fd, const void* data, std::size_t size, off_t offset, const std::string& path) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n =
        RetryOnInterrupt([&] { return offset >= 0 ? ::pwrite(fd, p, size, offset) : ::write(fd, p, size); });
    if (n < 0) throw odbc::errors::IoError(L"Could not write", path, errno);
    // A write that takes nothing at all would loop for ever: the file can take no more.
    if (n == 0) throw odbc::errors::IoError(L"Could not write", path, ENOSPC);
    p += n;
    size -= static_cast<std::size_t>(n);
    if (offset >= 0) offset += n;
  }
}

std::size_t ReadAll(int fd, void* data, std::size_t size, off_t offset, const std::string& path) {
  auto* p = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = RetryOnInterrupt([&] {
      return offset >= 0 ? ::pread(fd, p + done, size - done, offset + static_cast<off_t>(done))
                         : ::read(fd, p + done, size - done);
    });
    if (n < 0) throw odbc::errors::IoError(L"Could not read", path, errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void Sync(int fd, const std::string& path) {
  if (RetryOnInterrupt([fd] { return ::fsync(fd); }) != 0) throw odbc::errors::IoError(L"Could not write", path, errno);
}

void CopyFileContent(int from, int to, std::uint64_t size, const std::string& fromPath, const std::string& toPath) {
  const auto total = static_cast<off_t>(size);
  for (off_t offset = 0; offset < total;) {
    off_t data = ::lseek(from, offset, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) data = offset;            // a file system that cannot tell: everything is data
    off_t hole = ::lseek(from, data, SEEK_HOLE);
    if (hole < 0 || hole > total) hole = total;
    if (data >= total) break;
    const off_t reached = CopyRange(from, to, data, hole, fromPath, toPath);
    if (reached < hole) break;  // `from` ended early
    offset = hole;
  }
  if (RetryOnInterrupt([&] { return ::ftruncate(to, total); }) != 0)
    throw odbc::errors::IoError(L"Could not write", toPath, errno);
}

KernelCopy SetKernelCopy(KernelCopy copy) {
  const KernelCopy previous = g_kernelCopy;
  g_kernelCopy = copy;
  return previous;
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : kDefaultTemporaryFolder;
}

FileDescriptor OpenAnonymousFile(const std::string& folder) {
  FileDescriptor fd(RetryOnInterrupt([&] { return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); }));
  if (fd.IsOpen()) return fd;
  if (!LacksTmpfile(errno)) throw odbc::errors::IoError(L"Could not create a temporary file in", folder, errno);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = folder + "/" + kTemporaryPrefix + RandomName();
    fd = FileDescriptor(
        RetryOnInterrupt([&] { return ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600); }));
    if (fd.IsOpen()) {
      ::unlink(name.c_str());
      return fd;
    }
    if (errno != EEXIST) break;
  }
  throw odbc::errors::IoError(L"Could not create a temporary file in", folder, errno);
}

std::string RandomName() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kRandomNameLength];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    for (auto& b : bytes) b = static_cast<unsigned char>(std::rand());
  }
  std::string name;
  for (const unsigned char b : bytes) name.push_back(kLetters[b % (sizeof kLetters - 1)]);
  return name;
}

}  // namespace quillon::file
