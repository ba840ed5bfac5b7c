// The zip package of a workbook, written through minizip to a file descriptor (the work file of
// a FileReplacement, never a path), and parts deflated ahead of it into temporary files, so that
// a part of any size passes into the package as its compressed bytes without being held in
// memory or deflated twice.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "drivers/xlsx/SpreadsheetML.h"
#include "platform/file/FileDescriptor.h"

namespace quillon::drivers::xlsx {

// The pieces compressed bytes are copied in.
inline constexpr std::size_t kCopyChunk = 1 << 16;

// A part deflated (zlib's raw deflate) into an anonymous temporary file as its bytes arrive, with
// its CRC-32 and both sizes counted. A failed write throws odbc::errors::IoError, naming the
// temporary folder.
class DeflatedFile {
 public:
  DeflatedFile();
  ~DeflatedFile();
  DeflatedFile(const DeflatedFile&) = delete;
  DeflatedFile& operator=(const DeflatedFile&) = delete;

  void Write(std::string_view bytes);
  // Ends the deflate stream; nothing may be written after it.
  void Finish();
  bool Finished() const { return m_finished; }

  std::uint32_t Crc() const { return m_crc; }
  std::uint64_t Size() const { return m_size; }                      // uncompressed
  std::uint64_t CompressedSize() const { return m_compressedSize; }  // in the file
  // Reads up to `out.size()` compressed bytes at `offset`; returns how many.
  std::size_t ReadCompressed(std::uint64_t offset, std::span<std::uint8_t> out) const;

  // How the stream would end if Write(last) and Finish came now: the compressed bytes that
  // follow those in the file (the same bytes they would write), and the whole part's CRC-32 and
  // size. A copy of the compressor ends it, so the stream itself goes on unchanged.
  struct Ending {
    std::string compressed;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
  };
  Ending EndingWith(std::string_view last) const;

 private:
  // Deflates what is in the stream's input with `flush` and writes what comes out.
  void Deflate(int flush);

  struct Stream;
  std::unique_ptr<Stream> m_stream;
  std::string m_folder;
  file::FileDescriptor m_fd;
  std::uint32_t m_crc = 0;
  std::uint64_t m_size = 0;
  std::uint64_t m_compressedSize = 0;
  bool m_finished = false;
};

// A new zip archive written to `fd` from its current end. `path` (UTF-8) names the file in
// errors: a failed write throws odbc::errors::IoError, a refusal of the zip library
// odbc::errors::WriteRefused.
class ZipReader;
struct ZipEntry;

class ZipWriter {
 public:
  ZipWriter(int fd, std::string path);
  // Abandons an archive not closed (its file is then incomplete and must not be used).
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Adds an entry holding `data`, deflated.
  void AddDeflated(std::string_view name, std::string_view data);
  // Adds an entry from a finished DeflatedFile, its compressed bytes copied as they are; zip64
  // where its sizes need it.
  void AddDeflatedFile(std::string_view name, const DeflatedFile& part);
  // Adds an entry from a DeflatedFile that goes on, ended by `ending` (DeflatedFile::EndingWith):
  // the file's compressed bytes, then the ending's.
  void AddDeflatedFile(std::string_view name, const DeflatedFile& part, const DeflatedFile::Ending& ending);
  // Adds an entry whose compressed bytes (deflated, `compressedSize` of them) `read` hands over
  // piece by piece (returning how many it put in its buffer; 0 ends), as they are: for entries
  // copied from another archive.
  template <typename Read>
  void AddRaw(std::string_view name, std::uint32_t crc, std::uint64_t size, std::uint64_t compressedSize, Read&& read);
  // Adds `entry` of the archive `reader` reads as it is stored there: its name, method, flags,
  // crc, sizes, date, attributes, extra fields and compressed bytes, never recompressed.
  void AddCopy(ZipReader& reader, const ZipEntry& entry);
  // Writes the central directory and ends the archive.
  void Close();

  // minizip's view of the file (ZipWriter.cpp).
  struct Output;

 private:
  void OpenEntry(std::string_view name, bool raw, bool zip64);
  void WriteEntryData(const void* data, std::size_t size);
  void CloseRawEntry(std::uint64_t size, std::uint32_t crc);
  // Throws for a minizip call that returned `result` other than ZIP_OK.
  void Check(int result, std::wstring_view step) const;

  std::unique_ptr<Output> m_output;
  void* m_zip = nullptr;  // minizip's zipFile
  std::string m_path;
};

template <typename Read>
void ZipWriter::AddRaw(std::string_view name, std::uint32_t crc, std::uint64_t size, std::uint64_t compressedSize,
                       Read&& read) {
  OpenEntry(name, true, size >= sml::kZip32Limit || compressedSize >= sml::kZip32Limit);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kCopyChunk]);
  for (;;) {
    const std::size_t got = read(std::span<std::uint8_t>(buffer.get(), kCopyChunk));
    if (got == 0) break;
    WriteEntryData(buffer.get(), got);
  }
  CloseRawEntry(size, crc);
}

}  // namespace quillon::drivers::xlsx
