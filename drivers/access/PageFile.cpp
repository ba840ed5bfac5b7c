#include "drivers/access/PageFile.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "drivers/access/Jet4Format.h"
#include "platform/odbc/DriverErrors.h"

namespace quillon::drivers::access {
namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

file::FileReplacement::Existing ExistingFor(PageFile::Mode mode) {
  return mode == PageFile::Mode::CreateNew ? file::FileReplacement::Existing::Refuse
                                           : file::FileReplacement::Existing::Replace;
}

}  // namespace

PageFile::PageFile(std::filesystem::path target, Mode mode)
    : m_file(target.string(), ExistingFor(mode)), m_working(m_file.Target()) {
  if (mode == Mode::CreateNew) return;
  if (!m_file.Exists()) {
    throw odbc::errors::FileNotFound(target.wstring());
  }
  std::vector<std::uint8_t> buffer(kCopyChunk);
  off_t offset = 0;
  for (;;) {
    const std::size_t n = file::ReadAll(m_file.Original(), buffer.data(), buffer.size(), offset, m_file.Target());
    if (n == 0) break;
    file::WriteAll(m_file.WorkFile(), buffer.data(), n, offset, m_working);
    offset += static_cast<off_t>(n);
  }
  m_pageCount = static_cast<std::uint32_t>(static_cast<std::uint64_t>(offset) / jet4::kPageSize);
}

PageFile::~PageFile() = default;

void PageFile::Read(std::uint32_t page, Page& into) const {
  const off_t base = static_cast<off_t>(page) * static_cast<off_t>(jet4::kPageSize);
  const std::size_t done = file::ReadAll(m_file.WorkFile(), into.data(), into.size(), base, m_working);
  if (done == into.size()) return;
  // Allocated and not yet written: the file has not reached it.
  if (page >= m_pageCount) {
    throw odbc::errors::General(L"The database file ends inside page " + std::to_wstring(page));
  }
  std::fill(into.begin() + static_cast<std::ptrdiff_t>(done), into.end(), std::uint8_t{0});
}

void PageFile::Write(std::uint32_t page, const Page& from) {
  file::WriteAll(m_file.WorkFile(), from.data(), from.size(),
                 static_cast<off_t>(page) * static_cast<off_t>(jet4::kPageSize), m_working);
  if (page >= m_pageCount) m_pageCount = page + 1;
}

std::uint32_t PageFile::Allocate() {
  if (m_pageCount >= jet4::kMaxPages) {
    throw odbc::errors::General(L"The database has reached its maximum size of 2 GB");
  }
  return m_pageCount++;
}

void PageFile::Commit() {
  // Pages allocated last and never written still belong to the file, as zeros.
  if (file::RetryOnInterrupt([this] {
        return ::ftruncate(m_file.WorkFile(), static_cast<off_t>(m_pageCount) * static_cast<off_t>(jet4::kPageSize));
      }) != 0) {
    file::ThrowIoError(L"Could not write", m_working, errno);
  }
  m_file.Commit();
}

}  // namespace quillon::drivers::access
