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
  // Throws WorkbookRefused when the file is not a compound file, holds no BIFF8 workbook stream
  // (a "Book" stream is Excel 5.0/95), or cannot be read; `path` is UTF-8.
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
  friend void WriteCompoundFile(const std::string&, const CompoundFile*, const std::function<void(Sink&)>&);
};

// Writes a compound file at `path` (UTF-8) holding a "Workbook" stream made by `writeWorkbook`
// and, when `previous` is given, every other entry of it. Throws odbc::CDBException on failure.
void WriteCompoundFile(const std::string& path, const CompoundFile* previous,
                       const std::function<void(Sink&)>& writeWorkbook);

}  // namespace quillon::drivers::excel
