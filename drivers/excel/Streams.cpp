#include "drivers/excel/Streams.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "drivers/excel/Biff8.h"
#include "drivers/excel/CompoundFile.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"

namespace quillon::drivers::excel {
namespace {

// The spool's own buffer: large enough that writing and reading back cost few system calls.
constexpr std::size_t kFileBuffer = 1 << 16;
// The last sector number a compound file may use; those above it mark free sectors and chain ends.
constexpr std::uint32_t kLastSector = 0xFFFFFFFA;

}  // namespace

TempFile::TempFile()
    : m_folder(file::TemporaryFolder()),
      m_fd(file::OpenAnonymousFile(m_folder)),
      m_buffer(new std::uint8_t[kFileBuffer]) {}

TempFile::~TempFile() = default;

void TempFile::Flush() {
  file::WriteAll(m_fd.Get(), m_buffer.get(), m_used, -1, m_folder);
  m_used = 0;
}

void TempFile::Write(const void* data, std::size_t size) {
  if (m_reading) throw odbc::errors::TempFileWrittenAfterRead();
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
  if (size >= kFileBuffer) {
    // Whole buffers' worth go out as they are.
    const std::size_t whole = size - size % kFileBuffer;
    file::WriteAll(m_fd.Get(), bytes, whole, -1, m_folder);
    bytes += whole;
    size -= whole;
  }
  std::memcpy(m_buffer.get(), bytes, size);
  m_used = size;
}

void TempFile::Rewind() {
  if (!m_reading) Flush();
  m_reading = true;
  m_used = 0;
  m_taken = 0;
  if (::lseek(m_fd.Get(), 0, SEEK_SET) != 0)
    throw odbc::errors::IoError(L"Could not read a temporary file in", m_folder, errno);
}

std::span<const std::uint8_t> TempFile::ReadChunk(std::uint64_t most) {
  if (m_taken == m_used) {
    m_taken = 0;
    m_used = file::ReadAll(m_fd.Get(), m_buffer.get(), kFileBuffer, -1, m_folder);
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
  // The file is never shorter than what was written to it, unless the system lost data.
  if (file::ReadAll(m_fd.Get(), data, size, static_cast<off_t>(offset), m_folder) != size) {
    throw odbc::errors::IoError(L"A temporary file ended early in", m_folder, EIO);
  }
}

void Sink::WriteFrom(TempFile& file, std::uint64_t size) {
  while (size > 0) {
    const std::span<const std::uint8_t> chunk = file.ReadChunk(size);
    if (chunk.empty()) throw odbc::errors::IoError(L"A temporary file ended early in", file::TemporaryFolder(), EIO);
    Write(chunk.data(), chunk.size());
    size -= chunk.size();
  }
}

SpoolFile::SpoolFile()
    : m_own(file::OpenAnonymousFile(file::TemporaryFolder())), m_fd(m_own.Get()), m_path(file::TemporaryFolder()) {}

SpoolFile::SpoolFile(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

std::uint32_t SpoolFile::Take(std::uint32_t count) {
  // The largest sector numbers are the compound file's marks (free, end of chain, ...).
  if (count > kLastSector - m_taken) throw odbc::errors::FileTooLarge(kCompoundFileLimitText, kWorkbookFileText);
  const std::uint32_t first = m_taken;
  m_taken += count;
  return first;
}

void SpoolFile::GiveBackAfter(std::uint32_t taken) {
  if (taken > m_taken) return;
  // The header sector before the first stays as it is: whatever lays the file out next writes
  // it whole.
  const auto end = static_cast<off_t>(Offset(taken));
  if (file::RetryOnInterrupt([&] { return ::ftruncate(m_fd, end); }) != 0)
    throw odbc::errors::IoError(L"Could not write", m_path, errno);
  m_taken = taken;
}

Spool::Spool(SpoolFile& file) : m_file(file), m_buffer(new std::uint8_t[kBufferSize]) {}

void Spool::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  m_size += size;
  while (size > 0) {
    const std::size_t n = std::min(size, kBufferSize - m_used);
    std::memcpy(m_buffer.get() + m_used, bytes, n);
    m_used += n;
    bytes += n;
    size -= n;
    if (m_used < kBufferSize) break;
    constexpr auto kSectors = static_cast<std::uint32_t>(kBufferSize / SpoolFile::kSectorSize);
    const std::uint32_t first = m_file.Take(kSectors);
    file::WriteAll(m_file.Fd(), m_buffer.get(), kBufferSize, static_cast<off_t>(SpoolFile::Offset(first)),
                   m_file.Path());
    if (!m_runs.empty() && m_runs.back().first + m_runs.back().count == first)
      m_runs.back().count += kSectors;
    else
      m_runs.push_back({first, kSectors});
    m_used = 0;
  }
}

void Sink::WriteSpool(const Spool& spool) {
  std::vector<std::uint8_t> buffer(Spool::kBufferSize);
  for (const Spool::Run& run : spool.Runs()) {
    std::uint64_t at = SpoolFile::Offset(run.first);
    std::uint64_t left = std::uint64_t{run.count} * SpoolFile::kSectorSize;
    while (left > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      if (file::ReadAll(spool.File().Fd(), buffer.data(), n, static_cast<off_t>(at), spool.File().Path()) != n)
        throw odbc::errors::IoError(L"A temporary file ended early in", spool.File().Path(), EIO);
      Write(buffer.data(), n);
      at += n;
      left -= n;
    }
  }
  const auto tail = spool.Buffered();
  if (!tail.empty()) Write(tail.data(), tail.size());
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
