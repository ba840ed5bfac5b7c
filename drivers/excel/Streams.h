// Byte streams the workbook is assembled through: spools that keep cells and strings on disk,
// each in whole sectors of the compound file the workbook goes into (so that the sectors can
// stay where they are when the file is finished), a temporary file, and sinks the workbook
// stream is written to (or measured with).
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

// The sectors of a compound file as spools and the file's writer take them, one after another:
// sector n lies at byte 512 * (n + 1), after the file's header. Either a file of the caller's
// (the work file of the workbook, empty) or an anonymous temporary file of its own.
class SpoolFile {
 public:
  static constexpr std::uint64_t kSectorSize = 512;

  SpoolFile();
  // The file open on `fd`, which stays the caller's; `path` (UTF-8) names it in messages.
  SpoolFile(int fd, std::string path);
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  int Fd() const { return m_fd; }
  const std::string& Path() const { return m_path; }
  // Takes the next `count` sectors and returns the first one's number. Throws
  // odbc::errors::FileTooLarge when the numbers run out.
  std::uint32_t Take(std::uint32_t count);
  // Sectors taken so far.
  std::uint32_t Taken() const { return m_taken; }
  // Gives back the sectors taken after the first `taken` and cuts the file after them, so that
  // they are taken (and written) anew, as if never taken: a file laid out around spools that go
  // on. Throws odbc::errors::IoError when the file cannot be cut.
  void GiveBackAfter(std::uint32_t taken);
  static std::uint64_t Offset(std::uint32_t sector) { return (std::uint64_t{sector} + 1) * kSectorSize; }

 private:
  file::FileDescriptor m_own;
  int m_fd = -1;
  std::string m_path;
  std::uint32_t m_taken = 0;
};

// Bytes kept in a SpoolFile: each time its buffer fills it goes into sectors of its own, whole.
// A failed write throws odbc::errors::IoError naming the file.
class Spool {
 public:
  static constexpr std::size_t kBufferSize = 1 << 16;
  struct Run {
    std::uint32_t first;  // sector
    std::uint32_t count;
  };

  explicit Spool(SpoolFile& file);
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  void Write(const void* data, std::size_t size);
  // Room for up to `size` bytes in the buffer, to be written in place and kept by Commit; null
  // when the buffer has less (Write then takes the bytes, filling it). The buffer never fills
  // this way, so that it goes into sectors at the very write it would have otherwise.
  std::uint8_t* Room(std::size_t size) { return size < kBufferSize - m_used ? m_buffer.get() + m_used : nullptr; }
  // Keeps the first `size` bytes written at Room, no more than it was asked for.
  void Commit(std::size_t size) {
    m_used += size;
    m_size += size;
  }
  std::uint64_t Size() const { return m_size; }
  SpoolFile& File() const { return m_file; }
  // The bytes in order: the runs of sectors written, then those still in the buffer.
  const std::vector<Run>& Runs() const { return m_runs; }
  std::span<const std::uint8_t> Buffered() const { return {m_buffer.get(), m_used}; }

 private:
  SpoolFile& m_file;
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::size_t m_used = 0;
  std::uint64_t m_size = 0;
  std::vector<Run> m_runs;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(const void* data, std::size_t size) = 0;
  // Writes the next `size` bytes of `file`, which is being read.
  virtual void WriteFrom(TempFile& file, std::uint64_t size);
  // Writes everything `spool` holds (read back from its file).
  virtual void WriteSpool(const Spool& spool);
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
  void WriteSpool(const Spool& spool) override { m_position += spool.Size(); }
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
