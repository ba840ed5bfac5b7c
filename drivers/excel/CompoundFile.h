// The Compound File (OLE2) container of an .xls file: reading an existing file's workbook stream
// (through libgsf), and writing a whole new file that carries over every other stream and storage
// of the old one (here, so that sectors the workbook's spools filled stay where they are).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/excel/ByteSource.h"
#include "drivers/excel/Streams.h"

namespace quillon::drivers::excel {

class WorkbookRefused;

// The largest file a compound file of 512-byte sectors, the kind written here, may be: readers
// (xlrd, LibreOffice) refuse a larger one.
inline constexpr std::uint64_t kMaxCompoundFileSize = std::uint64_t{1} << 31;
// The limit and the file it bounds, as a refusal names them (odbc::errors::FileTooLarge).
inline constexpr const wchar_t* kCompoundFileLimitText = L"2 GB";
inline constexpr const wchar_t* kWorkbookFileText = L"an Excel 97-2003 workbook file";

// An existing .xls file, open for reading until destroyed.
class CompoundFile {
 public:
  // Reads the file open on `fd` (the descriptor stays the caller's; `path`, UTF-8, names it in
  // messages). Throws WorkbookRefused when it is not a compound file, holds no BIFF8 workbook
  // stream (a "Book" stream is Excel 5.0/95), or cannot be read.
  CompoundFile(int fd, const std::string& path);
  // The same for the file at `path`.
  explicit CompoundFile(const std::string& path);
  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  std::vector<std::uint8_t> ReadWorkbookStream() const;
  // The workbook stream read on demand, through a buffer; valid while this object lives.
  std::unique_ptr<ByteSource> WorkbookSource() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
  friend std::uint64_t CompoundFileSize(std::uint64_t, const CompoundFile*);
  friend void WriteCompoundFile(SpoolFile&, const std::string&, const CompoundFile*, std::uint64_t,
                                const std::function<void(Sink&)>&, std::uint64_t);
};

// At least the size, and at most a few sectors more, of the file WriteCompoundFile writes for a
// workbook stream of `workbookSize` bytes and the other entries of `previous` (if given).
std::uint64_t CompoundFileSize(std::uint64_t workbookSize, const CompoundFile* previous);

// Writes a compound file into `file` (`path` names it in messages) holding a "Workbook" stream of
// `workbookSize` bytes made by `writeWorkbook` and, when `previous` is given, every other entry
// of it. The stream takes sectors after those `file` has given out (spools of the workbook among
// them: a spool the stream reaches at the start of a sector keeps its sectors, which become the
// stream's, and is not copied); the directory and the allocation tables come last, the header
// at the start. A file that would exceed `sizeLimit` (CompoundFileSize) is refused before
// anything is written: odbc::errors::FileTooLarge. Throws odbc::CDBException on failure
// (odbc::errors::IoError when the system refused a write).
void WriteCompoundFile(SpoolFile& file, const std::string& path, const CompoundFile* previous,
                       std::uint64_t workbookSize, const std::function<void(Sink&)>& writeWorkbook,
                       std::uint64_t sizeLimit = kMaxCompoundFileSize);
// The same into the empty file open on `fd`.
void WriteCompoundFile(int fd, const std::string& path, const CompoundFile* previous, std::uint64_t workbookSize,
                       const std::function<void(Sink&)>& writeWorkbook, std::uint64_t sizeLimit = kMaxCompoundFileSize);
// The same into a new file at `path`, made or emptied.
void WriteCompoundFile(const std::string& path, const CompoundFile* previous, std::uint64_t workbookSize,
                       const std::function<void(Sink&)>& writeWorkbook);

}  // namespace quillon::drivers::excel
