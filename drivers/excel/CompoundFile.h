// The Compound File (OLE2) container of an .xls file, through libgsf: reading an existing file's
// workbook stream, and writing a whole new file that carries over every other stream and storage
// of the old one.
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
  friend void WriteCompoundFile(int, const std::string&, const CompoundFile*, const std::function<void(Sink&)>&);
};

// Writes a compound file to the empty file open on `fd` (`path` names it in messages) holding a
// "Workbook" stream made by `writeWorkbook` and, when `previous` is given, every other entry of
// it. Throws odbc::CDBException on failure (file::ThrowIoError's when the system refused a write).
void WriteCompoundFile(int fd, const std::string& path, const CompoundFile* previous,
                       const std::function<void(Sink&)>& writeWorkbook);
// The same into a new file at `path`, made or emptied.
void WriteCompoundFile(const std::string& path, const CompoundFile* previous,
                       const std::function<void(Sink&)>& writeWorkbook);

}  // namespace quillon::drivers::excel
