// The working copy of a database: a temporary file beside the target, read and written a page
// at a time, so that memory stays flat however large the file grows. Commit replaces the
// target by the finished working copy (rename), so the target only ever holds a complete file.
#pragma once

#include <cstdint>
#include <filesystem>

#include "drivers/access/Bytes.h"

namespace quillon::drivers::access {

class PageFile {
 public:
  enum class Mode { CreateNew, CopyExisting };
  // Creates the working copy beside `target` (a copy of it for CopyExisting, which also holds
  // an exclusive lock on the target until Commit, so that two connections never both replace
  // the same file). Throws CDBException naming the path when that fails or the file is in use.
  PageFile(std::filesystem::path target, Mode mode);
  ~PageFile();  // removes a working copy that was not committed
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  std::uint32_t PageCount() const { return m_pageCount; }
  void Read(std::uint32_t page, Page& into) const;
  void Write(std::uint32_t page, const Page& from);
  // Appends a page, zeroed until it is written, and returns its number.
  std::uint32_t Allocate();

  // Flushes the working copy and puts it in the target's place: for CreateNew only when the
  // target still does not exist. Throws CDBException; the working copy is gone either way.
  void Commit();

 private:
  std::filesystem::path m_target;
  std::filesystem::path m_working;
  Mode m_mode;
  int m_fd = -1;
  int m_lockFd = -1;
  std::uint32_t m_pageCount = 0;
};

}  // namespace quillon::drivers::access
