// The working copy of a database: an anonymous file in the target's folder (see
// platform/file/FileReplacement.h), read and written a page at a time, so that memory stays flat
// however large the file grows. Commit puts the finished working copy in the target's place, so
// the target only ever holds a complete file; the target stays locked while this object lives.
// An existing file is copied only before its first change (reads go to the locked file until
// then), so that what is refused before anything is written costs no copy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drivers/access/Bytes.h"
#include "platform/file/FileReplacement.h"

namespace quillon::drivers::access {

class PageFile {
 public:
  enum class Mode { CreateNew, CopyExisting, ReplaceWithNew };
  // Locks `target` and creates the working copy (a copy of it for CopyExisting, made before the
  // first Write or Allocate; an empty file for CreateNew, which refuses a target that exists, and
  // for ReplaceWithNew, whose target may exist and is replaced as a whole).
  // Throws CDBException naming the path when that fails or the file is in use; failed reads and
  // writes are odbc::errors::IoError.
  PageFile(std::filesystem::path target, Mode mode);
  ~PageFile();  // drops a working copy that was not committed
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  std::uint32_t PageCount() const { return m_pageCount; }
  void Read(std::uint32_t page, Page& into) const;
  void Write(std::uint32_t page, const Page& from);
  // Appends a page, zeroed until it is written, and returns its number. A file of jet4::kMaxPages
  // takes no more: an error of the file (58030), as a full disk.
  std::uint32_t Allocate();

  // Flushes the working copy and puts it in the target's place: for CreateNew only when the
  // target still does not exist; an existing file nothing was written to stays as it is. Throws
  // CDBException; the target is then as it was.
  void Commit();
  // Puts a copy of the working copy in the target's place as Commit does, and goes on with the
  // working copy (file::FileReplacement::CommitCopy); nothing when nothing was written.
  void CommitCopy();
  // From now on keeps what each page held before it is first written, so that Undo can put the
  // working copy back as it is now: for pages a checkpoint completes only for the copy it publishes.
  void StartUndo();
  // Puts back the pages written since StartUndo, drops the pages added since, and keeps no more.
  void Undo();
  // The file the working copy replaces (symbolic links followed), as UTF-8.
  const std::string& Target() const { return m_file.Target(); }

 private:
  // Copies the existing file into the working copy, once, before the first change.
  void CopyOriginal();
  // Sizes the working copy to its pages: those allocated last and never written are zeros.
  void TruncateToPages();

  file::FileReplacement m_file;
  std::string m_working;  // how failures of the working copy name it
  std::uint32_t m_pageCount = 0;
  bool m_copyPending = false;    // pages are read from the existing file until it is copied
  std::uint64_t m_copySize = 0;  // the existing file's size
  // While an undo is kept: the page count at StartUndo and the earlier pages' content before
  // their first write since.
  struct UndoLog {
    std::uint32_t pageCount = 0;
    std::vector<std::pair<std::uint32_t, Page>> pages;
  };
  std::optional<UndoLog> m_undo;
};

}  // namespace quillon::drivers::access
