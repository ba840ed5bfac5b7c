#include "drivers/excel/Streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/odbc/DBException.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

// The spool's own buffer: large enough that writing and reading back cost few system calls.
constexpr std::size_t kFileBuffer = 1 << 16;
constexpr const char* kDefaultTemporaryFolder = "/tmp";

[[noreturn]] void TempFailure(const char* what) {
  const int error = errno;
  throw odbc::CDBException(L"Could not " + text::Utf8ToWide(what) + L" a temporary file: " +
                               text::Utf8ToWide(std::strerror(error)),
                           L"HY000");
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : kDefaultTemporaryFolder;
}

// A file with no name (O_TMPFILE), or one made and unlinked at once where the file system has no
// such files.
int OpenAnonymous() {
  const std::string folder = TemporaryFolder();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string pattern = folder + "/quillon-spool-XXXXXX";
  fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(pattern.c_str());
  return fd;
}

}  // namespace

TempFile::TempFile() : m_buffer(new std::uint8_t[kFileBuffer]) {
  m_fd = OpenAnonymous();
  if (m_fd < 0) TempFailure("create");
}

TempFile::~TempFile() {
  if (m_fd >= 0) ::close(m_fd);
}

void TempFile::Flush() {
  std::size_t done = 0;
  while (done < m_used) {
    const ssize_t n = ::write(m_fd, m_buffer.get() + done, m_used - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) TempFailure("write");
    done += static_cast<std::size_t>(n);
  }
  m_used = 0;
}

void TempFile::Write(const void* data, std::size_t size) {
  if (m_reading) throw odbc::CDBException(L"A temporary file is written after it was read back", L"HY000");
  m_size += size;
  if (m_used + size <= kFileBuffer) {
    if (size != 0) std::memcpy(m_buffer.get() + m_used, data, size);
    m_used += size;
    return;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::size_t fill = kFileBuffer - m_used;
  std::memcpy(m_buffer.get() + m_used, bytes, fill);
  m_used = kFileBuffer;
  Flush();
  bytes += fill;
  size -= fill;
  while (size >= kFileBuffer) {
    // Whole buffers' worth go out as they are.
    const ssize_t n = ::write(m_fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) TempFailure("write");
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  std::memcpy(m_buffer.get(), bytes, size);
  m_used = size;
}

void TempFile::Rewind() {
  if (!m_reading) Flush();
  m_reading = true;
  m_used = 0;
  m_taken = 0;
  if (::lseek(m_fd, 0, SEEK_SET) != 0) TempFailure("read back");
}

std::span<const std::uint8_t> TempFile::ReadChunk(std::uint64_t most) {
  if (m_taken == m_used) {
    m_taken = m_used = 0;
    for (;;) {
      const ssize_t n = ::read(m_fd, m_buffer.get(), kFileBuffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) TempFailure("read");
      m_used = static_cast<std::size_t>(n);
      break;
    }
  }
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(most, m_used - m_taken));
  const std::span<const std::uint8_t> chunk(m_buffer.get() + m_taken, n);
  m_taken += n;
  return chunk;
}

bool TempFile::Read(void* data, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    const std::span<const std::uint8_t> chunk = ReadChunk(size);
    if (chunk.empty()) return false;
    std::memcpy(out, chunk.data(), chunk.size());
    out += chunk.size();
    size -= chunk.size();
  }
  return true;
}

void TempFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
  if (!m_reading) Flush();
  auto* out = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(m_fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the file is shorter than what was written to it
      TempFailure("read");
    }
    out += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
}

void Sink::WriteFrom(TempFile& file, std::uint64_t size) {
  while (size > 0) {
    const std::span<const std::uint8_t> chunk = file.ReadChunk(size);
    if (chunk.empty()) throw odbc::CDBException(L"A temporary file ended early", L"HY000");
    Write(chunk.data(), chunk.size());
    size -= chunk.size();
  }
}

void MemorySink::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  m_bytes.insert(m_bytes.end(), p, p + size);
  m_position += size;
}

void CopyTo(TempFile& file, Sink& sink) {
  file.Rewind();
  sink.WriteFrom(file, file.Size());
}

}  // namespace quillon::drivers::excel
