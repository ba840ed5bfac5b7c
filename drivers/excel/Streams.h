// Byte streams the workbook is assembled through: a temporary file that spools cells and
// strings to disk, and sinks the workbook stream is written to (or measured with).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quillon::drivers::excel {

// An anonymous temporary file, removed when closed. Failures throw odbc::CDBException.
class TempFile {
 public:
  TempFile();
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const void* data, std::size_t size);
  // Starts reading from the beginning; writing after that is not allowed.
  void Rewind();
  // Reads exactly `size` bytes; false at the end of the file.
  bool Read(void* data, std::size_t size);
  std::uint64_t Size() const { return m_size; }

 private:
  std::FILE* m_file = nullptr;
  std::uint64_t m_size = 0;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(const void* data, std::size_t size) = 0;
  // Bytes written so far.
  std::uint64_t Position() const { return m_position; }

 protected:
  std::uint64_t m_position = 0;
};

// Counts bytes and stores none, to lay the stream out before it is written.
class CountingSink : public Sink {
 public:
  void Write(const void*, std::size_t size) override { m_position += size; }
};

// Collects the bytes in memory (tests, fuzzing, small streams).
class MemorySink : public Sink {
 public:
  void Write(const void* data, std::size_t size) override;
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// Copies a temporary file's whole content to a sink.
void CopyTo(TempFile& file, Sink& sink);

}  // namespace quillon::drivers::excel
