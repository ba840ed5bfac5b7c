#include "drivers/access/PageFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "drivers/access/Jet4Format.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

file::FileReplacement::Existing ExistingFor(PageFile::Mode mode) {
  return mode == PageFile::Mode::CreateNew ? file::FileReplacement::Existing::Refuse
                                           : file::FileReplacement::Existing::Replace;
}

}  // namespace

PageFile::PageFile(std::filesystem::path target, Mode mode)
    : m_file(target.string(), ExistingFor(mode)), m_working(m_file.Target()) {
  if (mode != Mode::CopyExisting) return;
  if (!m_file.Exists()) {
    throw odbc::errors::FileNotFound(target.wstring());
  }
  struct stat status {};
  if (::fstat(m_file.Original(), &status) != 0) throw odbc::errors::IoError(L"Could not read", m_file.Target(), errno);
  m_copySize = static_cast<std::uint64_t>(status.st_size);
  m_pageCount = static_cast<std::uint32_t>(m_copySize / jet4::kPageSize);
  m_copyPending = true;
}

void PageFile::CopyOriginal() {
  if (!m_copyPending) return;
  // In the kernel and without the holes: adding a little to a large file costs about what is added.
  file::CopyFileContent(m_file.Original(), m_file.WorkFile(), m_copySize, m_file.Target(), m_working);
  m_copyPending = false;
}

PageFile::~PageFile() = default;

void PageFile::Read(std::uint32_t page, Page& into) const {
  const off_t base = static_cast<off_t>(page) * static_cast<off_t>(jet4::kPageSize);
  const std::size_t done = m_copyPending
                               ? file::ReadAll(m_file.Original(), into.data(), into.size(), base, m_file.Target())
                               : file::ReadAll(m_file.WorkFile(), into.data(), into.size(), base, m_working);
  if (done == into.size()) return;
  // Allocated and not yet written: the file has not reached it.
  if (page >= m_pageCount) {
    throw odbc::errors::DatabaseEndsInPage(page);
  }
  std::fill(into.begin() + static_cast<std::ptrdiff_t>(done), into.end(), std::uint8_t{0});
}

void PageFile::Write(std::uint32_t page, const Page& from) {
  CopyOriginal();
  if (m_undo && page < m_undo->pageCount &&
      std::none_of(m_undo->pages.begin(), m_undo->pages.end(), [&](const auto& kept) { return kept.first == page; })) {
    Read(page, m_undo->pages.emplace_back(page, Page{}).second);
  }
  file::WriteAll(m_file.WorkFile(), from.data(), from.size(),
                 static_cast<off_t>(page) * static_cast<off_t>(jet4::kPageSize), m_working);
  if (page >= m_pageCount) m_pageCount = page + 1;
}

std::uint32_t PageFile::Allocate() {
  if (m_pageCount >= jet4::kMaxPages) {
    throw odbc::errors::FileTooLarge(L"2 GB", L"an Access 2000-2003 (Jet 4) database file");
  }
  CopyOriginal();
  return m_pageCount++;
}

void PageFile::TruncateToPages() {
  if (file::RetryOnInterrupt([this] {
        return ::ftruncate(m_file.WorkFile(), static_cast<off_t>(m_pageCount) * static_cast<off_t>(jet4::kPageSize));
      }) != 0) {
    throw odbc::errors::IoError(L"Could not write", m_working, errno);
  }
}

void PageFile::Commit() {
  // Nothing changed: the file stays as it is.
  if (m_copyPending) return;
  // Pages allocated last and never written still belong to the file, as zeros.
  TruncateToPages();
  m_file.Commit();
}

void PageFile::CommitCopy() {
  if (m_copyPending) return;
  TruncateToPages();
  m_file.CommitCopy();
}

void PageFile::StartUndo() { m_undo = UndoLog{m_pageCount, {}}; }

void PageFile::Undo() {
  if (!m_undo) return;
  const UndoLog undo = std::move(*m_undo);
  m_undo.reset();
  for (const auto& [page, content] : undo.pages) Write(page, content);
  // The pages added since are cut off, so that each reads as zeros again until it is written.
  m_pageCount = undo.pageCount;
  TruncateToPages();
}

}  // namespace quillon::drivers::access
