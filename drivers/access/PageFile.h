// The working copy of a database: an anonymous file in the target's folder (see
// platform/file/FileReplacement.h), read and written a page at a time, so that memory stays flat
// however large the file grows. Commit puts the finished working copy in the target's place, so
// the target only ever holds a complete file; the target stays locked while this object lives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "drivers/access/Bytes.h"
#include "platform/file/FileReplacement.h"

namespace quillon::drivers::access {

class PageFile {
 public:
  enum class Mode { CreateNew, CopyExisting };
  // Locks `target` and creates the working copy (a copy of it for CopyExisting, an empty file
  // for CreateNew, which refuses a target that exists). Throws CDBException naming the path when
  // that fails or the file is in use; failed reads and writes are file::ThrowIoError's errors.
  PageFile(std::filesystem::path target, Mode mode);
  ~PageFile();  // drops a working copy that was not committed
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  std::uint32_t PageCount() const { return m_pageCount; }
  void Read(std::uint32_t page, Page& into) const;
  void Write(std::uint32_t page, const Page& from);
  // Appends a page, zeroed until it is written, and returns its number.
  std::uint32_t Allocate();

  // Flushes the working copy and puts it in the target's place: for CreateNew only when the
  // target still does not exist. Throws CDBException; the target is then as it was.
  void Commit();
  // The file the working copy replaces (symbolic links followed), as UTF-8.
  const std::string& Target() const { return m_file.Target(); }

 private:
  file::FileReplacement m_file;
  std::string m_working;  // how failures of the working copy name it
  std::uint32_t m_pageCount = 0;
};

}  // namespace quillon::drivers::access
