#include "drivers/access/PageFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/access/Jet4Format.h"
#include "platform/odbc/DBException.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::access {
namespace {

constexpr const wchar_t* kFileErrorState = L"HY000";

[[noreturn]] void ThrowFileError(const std::wstring& what, const std::filesystem::path& path, int error) {
  throw odbc::CDBException(what + L" '" + text::Utf8ToWide(path.string()) + L"': " +
                               text::Utf8ToWide(std::strerror(error)),
                           kFileErrorState);
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset, const std::filesystem::path& path) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(L"Cannot write the database file", path, errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
}

}  // namespace

PageFile::PageFile(std::filesystem::path target, Mode mode) : m_target(std::move(target)), m_mode(mode) {
  if (mode == Mode::CopyExisting) {
    // Through a symbolic link, the file it names is the one replaced.
    std::error_code error;
    auto resolved = std::filesystem::canonical(m_target, error);
    if (!error) m_target = std::move(resolved);
  }
  std::string pattern = (m_target.parent_path() / ("." + m_target.filename().string() + ".quillon-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  m_fd = ::mkstemp(name.data());
  if (m_fd < 0) ThrowFileError(L"Cannot create a file beside", m_target, errno);
  m_working = name.data();
  ::fchmod(m_fd, 0644);
  if (mode == Mode::CopyExisting) {
    const int in = ::open(m_target.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      const int error = errno;
      ::close(m_fd);
      ::unlink(m_working.c_str());
      ThrowFileError(L"Cannot open the database file", m_target, error);
    }
    if (::flock(in, LOCK_EX | LOCK_NB) != 0) {
      ::close(in);
      ::close(m_fd);
      ::unlink(m_working.c_str());
      throw odbc::CDBException(L"The database '" + text::Utf8ToWide(m_target.string()) +
                                   L"' is in use by another connection",
                               L"HY000");
    }
    struct stat status{};
    if (::fstat(in, &status) == 0) ::fchmod(m_fd, status.st_mode & 07777);
    std::vector<std::uint8_t> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int error = errno;
        ::close(in);
        ::close(m_fd);
        ::unlink(m_working.c_str());
        ThrowFileError(L"Cannot read the database file", m_target, error);
      }
      if (n == 0) break;
      try {
        WriteAll(m_fd, buffer.data(), static_cast<std::size_t>(n), offset, m_working);
      } catch (...) {
        ::close(in);
        ::close(m_fd);
        ::unlink(m_working.c_str());
        throw;
      }
      offset += n;
    }
    m_lockFd = in;
    m_pageCount = static_cast<std::uint32_t>(static_cast<std::uint64_t>(offset) / jet4::kPageSize);
  }
}

PageFile::~PageFile() {
  if (m_fd >= 0) {
    ::close(m_fd);
    ::unlink(m_working.c_str());
  }
  if (m_lockFd >= 0) ::close(m_lockFd);
}

void PageFile::Read(std::uint32_t page, Page& into) const {
  std::size_t done = 0;
  const off_t base = static_cast<off_t>(page) * static_cast<off_t>(jet4::kPageSize);
  while (done < into.size()) {
    const ssize_t n = ::pread(m_fd, into.data() + done, into.size() - done, base + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowFileError(L"Cannot read the database file", m_working, errno);
    if (n == 0) {
      // Allocated and not yet written: the file has not reached it.
      if (page >= m_pageCount) {
        throw odbc::CDBException(L"The database file ends inside page " + std::to_wstring(page), L"HY000");
      }
      std::fill(into.begin() + static_cast<std::ptrdiff_t>(done), into.end(), std::uint8_t{0});
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void PageFile::Write(std::uint32_t page, const Page& from) {
  WriteAll(m_fd, from.data(), from.size(), static_cast<off_t>(page) * static_cast<off_t>(jet4::kPageSize), m_working);
  if (page >= m_pageCount) m_pageCount = page + 1;
}

std::uint32_t PageFile::Allocate() {
  if (m_pageCount >= jet4::kMaxPages) {
    throw odbc::CDBException(L"The database has reached its maximum size of 2 GB", L"HY000");
  }
  return m_pageCount++;
}

void PageFile::Commit() {
  const int fd = m_fd;
  m_fd = -1;
  // Pages allocated last and never written still belong to the file, as zeros.
  const bool synced = ::ftruncate(fd, static_cast<off_t>(m_pageCount) * static_cast<off_t>(jet4::kPageSize)) == 0 &&
                      ::fsync(fd) == 0;
  const int syncError = errno;
  ::close(fd);
  if (!synced) {
    ::unlink(m_working.c_str());
    ThrowFileError(L"Cannot write the database file", m_working, syncError);
  }
  if (m_mode == Mode::CreateNew) {
    // link() fails when the target appeared meanwhile: nothing is ever overwritten here.
    const bool linked = ::link(m_working.c_str(), m_target.c_str()) == 0;
    const int error = errno;
    ::unlink(m_working.c_str());
    if (!linked) ThrowFileError(L"Cannot create the database file", m_target, error);
  } else {
    const bool renamed = ::rename(m_working.c_str(), m_target.c_str()) == 0;
    const int error = errno;
    if (!renamed) ::unlink(m_working.c_str());
    ::close(m_lockFd);
    m_lockFd = -1;
    if (!renamed) ThrowFileError(L"Cannot replace the database file", m_target, error);
  }
}

}  // namespace quillon::drivers::access
