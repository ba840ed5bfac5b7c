// Reading an existing zip package (an .xlsx workbook) from an open file descriptor, never by its
// path, so that what is read is the very file the driver holds locked. The entries are listed in
// the order of the central directory with what a copy needs to reproduce their local headers;
// an entry is read either inflated (a part the driver parses, refused past a size limit so that
// a zip bomb is never inflated) or raw, its compressed bytes as stored, for copying it into a
// new package without recompressing it (ZipWriter::AddCopy).
//
// Refusals come as PackageRefused carrying an error of the vocabulary (platform/errors/Errors.h)
// that words why; the driver adds the file's path. A failed read of the file is
// odbc::errors::IoError.
#pragma once

#include <minizip/unzip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors/Errors.h"

namespace quillon::drivers::xlsx {

// A package the driver will not add to; what() is the error's message ("it is encrypted").
class PackageRefused : public std::runtime_error {
 public:
  explicit PackageRefused(const odbc::CDBException& why);
};

// Zip compression methods.
inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;
// The general purpose flags: the entry is encrypted; its crc and sizes follow its data (a copy
// writes them into its local header instead).
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;

// One entry of the central directory.
struct ZipEntry {
  std::string name;
  std::uint16_t method = kStored;
  std::uint16_t flags = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint32_t dosDate = 0;
  std::uint16_t versionMadeBy = 0;
  std::uint32_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
  std::string centralExtra;
  std::string comment;
  unz64_file_pos position{};
};

class ZipReader {
 public:
  // Reads the central directory of the zip file open at `fd`; `path` (UTF-8) only names the file
  // in I/O errors. Throws PackageRefused for a file that is no zip (ZipNotAPackage), an OLE
  // compound file (WorkbookEncrypted when it holds an encrypted package, else ZipNotAPackage) or
  // a zip whose directory cannot be read (PackageDamaged).
  ZipReader(int fd, std::string path);
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  const std::vector<ZipEntry>& Entries() const { return m_entries; }
  // The entry of that part name, compared without ASCII case as package part names are; null
  // when there is none.
  const ZipEntry* Find(std::string_view name) const;

  // The entry's content, inflated and its crc checked. Throws PackageRefused for one larger
  // than `limit` (PartTooLarge), compressed by another method or damaged (PackageDamaged).
  std::string ReadInflated(const ZipEntry& entry, std::size_t limit);
  // Hands the entry's stored bytes (compressed as they are) to `sink` piece by piece; the local
  // header's extra field goes to `localExtra`.
  void ReadRaw(const ZipEntry& entry, std::string& localExtra,
               const std::function<void(const void* data, std::size_t size)>& sink);

 private:
  struct Stream {
    int fd = -1;
    std::uint64_t position = 0;
    std::uint64_t size = 0;
    int error = 0;
  };
  void OpenEntry(const ZipEntry& entry, bool raw);
  [[noreturn]] void FailRead(const ZipEntry& entry, int status);
  // Lists the entries of the archive just opened into m_entries; throws for a damaged one.
  void ReadDirectory();

  std::string m_path;
  Stream m_stream;

  unzFile m_zip = nullptr;
  std::vector<ZipEntry> m_entries;
};

}  // namespace quillon::drivers::xlsx
