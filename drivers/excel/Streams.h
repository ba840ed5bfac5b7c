// Byte streams the workbook is assembled through: a temporary file that spools cells and
// strings to disk, and sinks the workbook stream is written to (or measured with).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/file/FileDescriptor.h"

namespace quillon::drivers::excel {

// An anonymous temporary file in the temporary folder ($TMPDIR), gone when closed, written and
// read through a buffer of its own so that the system sees few, large calls whatever the callers'
// pieces. A failed read or write throws odbc::errors::IoError, naming the folder.
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
  // Up to `most` of the next bytes, straight from the buffer; empty at the end of the file.
  // Valid until the next call.
  std::span<const std::uint8_t> ReadChunk(std::uint64_t most);
  // Reads `size` bytes at `offset` without moving the reading position; writes so far count.
  void ReadAt(std::uint64_t offset, void* data, std::size_t size);
  std::uint64_t Size() const { return m_size; }

 private:
  void Flush();

  std::string m_folder;
  file::FileDescriptor m_fd;
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::size_t m_used = 0;   // writing: bytes waiting in the buffer; reading: bytes in it
  std::size_t m_taken = 0;  // reading: bytes of the buffer already handed out
  bool m_reading = false;
  std::uint64_t m_size = 0;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(const void* data, std::size_t size) = 0;
  // Writes the next `size` bytes of `file`, which is being read.
  virtual void WriteFrom(TempFile& file, std::uint64_t size);
  // Bytes written so far.
  std::uint64_t Position() const { return m_position; }

 protected:
  std::uint64_t m_position = 0;
};

// Counts bytes and stores none, to lay the stream out before it is written.
class CountingSink : public Sink {
 public:
  void Write(const void*, std::size_t size) override { m_position += size; }
  void WriteFrom(TempFile&, std::uint64_t size) override { m_position += size; }
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
