#include "drivers/excel/Streams.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/odbc/DBException.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

constexpr std::size_t kFileBuffer = 1 << 16;
constexpr std::size_t kCopyChunk = 1 << 16;

[[noreturn]] void TempFailure(const char* what) {
  const int error = errno;
  throw odbc::CDBException(L"Could not " + text::Utf8ToWide(what) + L" a temporary file: " +
                               text::Utf8ToWide(std::strerror(error)),
                           L"HY000");
}

}  // namespace

TempFile::TempFile() {
  m_file = std::tmpfile();
  if (m_file == nullptr) TempFailure("create");
  std::setvbuf(m_file, nullptr, _IOFBF, kFileBuffer);
}

TempFile::~TempFile() {
  if (m_file != nullptr) std::fclose(m_file);
}

void TempFile::Write(const void* data, std::size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, m_file) != size) TempFailure("write");
  m_size += size;
}

void TempFile::Rewind() {
  if (std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0) TempFailure("read back");
}

bool TempFile::Read(void* data, std::size_t size) {
  if (size == 0) return true;
  const std::size_t got = std::fread(data, 1, size, m_file);
  if (got == size) return true;
  if (std::ferror(m_file)) TempFailure("read");
  return false;
}

void MemorySink::Write(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  m_bytes.insert(m_bytes.end(), p, p + size);
  m_position += size;
}

void CopyTo(TempFile& file, Sink& sink) {
  file.Rewind();
  std::vector<std::uint8_t> chunk(kCopyChunk);
  std::uint64_t left = file.Size();
  while (left > 0) {
    const std::size_t n = left < kCopyChunk ? static_cast<std::size_t>(left) : kCopyChunk;
    if (!file.Read(chunk.data(), n)) throw odbc::CDBException(L"A temporary file ended early", L"HY000");
    sink.Write(chunk.data(), n);
    left -= n;
  }
}

}  // namespace quillon::drivers::excel
