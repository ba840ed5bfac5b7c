#include "platform/file/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::file {
namespace {

// Symbolic links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;
// Times the file is opened again when it was replaced between opening and locking it.
constexpr int kLockAttempts = 8;
constexpr int kNameAttempts = 100;
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kAnyWriteBit = 0222;
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;
constexpr const char* kLockNamePrefix = "quillon-file-lock";
// The extended attribute that holds a file's access ACL.
constexpr const char* kAccessAclAttribute = "system.posix_acl_access";
// Namespaces of attributes that the system or the administrator manage (a security label, file
// capabilities): the new version gets what the system gives a new file when they cannot be set.
constexpr std::string_view kManagedAttributePrefixes[] = {"security.", "trusted."};

std::wstring Wide(const std::string& path) { return text::Utf8ToWide(path); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `path` with symbolic links in its last part followed, also to a file that does not exist yet.
std::string FollowLinks(std::string path) {
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::vector<char> target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
    if (n < 0) throw odbc::errors::IoError(L"Could not read the link", path, errno);
    const std::string next(target.data(), static_cast<std::size_t>(n));
    path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
  }
  throw odbc::errors::IoError(L"Could not follow the link", path, ELOOP);
}

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = kFnvOffset;
  for (const unsigned char c : text) hash = (hash ^ c) * kFnvPrime;
  return hash;
}

// The name of the lock on `name` in the folder open on `folder`; empty when the folder cannot be
// read.
std::string LockKey(int folder, const std::string& name) {
  struct stat status {};
  if (::fstat(folder, &status) != 0) return {};
  char key[sizeof(sockaddr_un::sun_path)];
  const int length = std::snprintf(
      key, sizeof key, "%s/%llx/%llx/%016llx", kLockNamePrefix, static_cast<unsigned long long>(status.st_dev),
      static_cast<unsigned long long>(status.st_ino), static_cast<unsigned long long>(Fnv1a(name)));
  return std::string(key, static_cast<std::size_t>(length));
}

// A lock on the name `name` in the folder `folder` for as long as the returned descriptor is
// open: an abstract unix socket address (no file, gone with the process however it ends), or
// the one a LockHandover of this thread kept. Returns no descriptor when the name is locked
// already.
FileDescriptor LockName(int folder, const std::string& name, const std::string& pathForMessage) {
  const std::string key = LockKey(folder, name);
  if (key.empty()) throw odbc::errors::IoError(L"Could not read the folder of", pathForMessage, errno);
  if (FileDescriptor kept = LockHandover::Take(key); kept.IsOpen()) return kept;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, key.data(), key.size());  // sun_path[0] == 0: abstract
  FileDescriptor lock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!lock.IsOpen()) throw odbc::errors::IoError(L"Could not lock", pathForMessage, errno);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
  if (::bind(lock.Get(), reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    if (errno == EADDRINUSE) return {};
    throw odbc::errors::IoError(L"Could not lock", pathForMessage, errno);
  }
  return lock;
}

thread_local LockHandover* t_handover = nullptr;

// The names of the extended attributes of the file open on `fd`, each ending in a NUL; empty when
// it has none or its file system keeps none.
std::vector<char> AttributeNames(int fd, const std::string& pathForMessage) {
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == ENOSYS)) return {};
    if (size < 0) throw odbc::errors::IoError(L"Could not read the extended attributes of", pathForMessage, errno);
    std::vector<char> names(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return names;
    }
    if (errno != ERANGE)
      throw odbc::errors::IoError(L"Could not read the extended attributes of", pathForMessage, errno);
  }
}

bool IsManagedAttribute(std::string_view name) {
  for (const std::string_view prefix : kManagedAttributePrefixes) {
    if (name.starts_with(prefix)) return true;
  }
  return false;
}

// Gives the file open on `to` every extended attribute of the one open on `from` (user
// attributes and ACLs alike). One the user owns that cannot be copied refuses the replacement,
// so that the file keeps it; a managed one is left to the system.
void CopyAttributes(int from, int to, const std::string& pathForMessage) {
  const std::vector<char> names = AttributeNames(from, pathForMessage);
  std::vector<char> value;
  bool hasAccessAcl = false;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    hasAccessAcl = hasAccessAcl || std::strcmp(name, kAccessAclAttribute) == 0;
    ssize_t size = -1;
    for (;;) {
      size = ::fgetxattr(from, name, nullptr, 0);
      if (size < 0) break;
      value.resize(static_cast<std::size_t>(size));
      size = ::fgetxattr(from, name, value.data(), value.size());
      if (size >= 0 || errno != ERANGE) break;
    }
    if (size >= 0 && ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) == 0) continue;
    if (size < 0 && errno == ENODATA) continue;  // removed meanwhile
    if (IsManagedAttribute(name)) continue;
    throw odbc::errors::IoError(L"Could not keep the extended attribute " + text::Utf8ToWide(name) + L" of",
                                pathForMessage, errno);
  }
  // A default ACL of the folder gives a new file an access ACL: the replaced file had none.
  if (!hasAccessAcl && ::fremovexattr(to, kAccessAclAttribute) != 0 && errno != ENODATA && errno != ENOTSUP) {
    throw odbc::errors::IoError(L"Could not set the permissions of", pathForMessage, errno);
  }
}

[[noreturn]] void InUse(const std::string& path) { throw odbc::errors::FileInUse(Wide(path)); }

}  // namespace

FileReplacement::FileReplacement(const std::string& path, Existing existing) : m_target(FollowLinks(path)) {
  m_name = NameOf(m_target);
  const std::string folder = FolderPath();
  m_folder =
      FileDescriptor(RetryOnInterrupt([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!m_folder.IsOpen()) {
    if (errno == ENOENT || errno == ENOTDIR) throw odbc::errors::FolderMissing(Wide(folder));
    if (errno == EACCES) throw odbc::errors::PermissionDenied(L"folder", Wide(folder), L"opened");
    throw odbc::errors::IoError(L"Could not open the folder", folder, errno);
  }
  m_nameLock = LockName(m_folder.Get(), m_name, m_target);
  if (!m_nameLock.IsOpen()) InUse(m_target);
  RemoveLeftovers();
  OpenTarget(existing);
  OpenWorkFile();
}

std::string FileReplacement::LeftoverPrefix() const { return "." + m_name + kTemporaryPrefix; }

std::string FileReplacement::HiddenName() const {
  std::string name = LeftoverPrefix() + RandomName();
  // A file whose name leaves no room for its own gets the short form, which is never cleared up.
  return name.size() <= NAME_MAX ? name : kTemporaryPrefix + RandomName();
}

void FileReplacement::RemoveLeftovers() const {
  const int listing = ::openat(m_folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* folder = ::fdopendir(listing);
  if (folder == nullptr) {
    ::close(listing);
    return;
  }
  const std::string prefix = LeftoverPrefix();
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kRandomNameLength || !name.starts_with(prefix)) continue;
    struct stat status {};
    if (::fstatat(m_folder.Get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode))
      leftovers.emplace_back(name);
  }
  ::closedir(folder);
  for (const auto& name : leftovers) ::unlinkat(m_folder.Get(), name.c_str(), 0);
}

FileReplacement::~FileReplacement() {
  if (!m_committed && !m_workName.empty()) ::unlinkat(m_folder.Get(), m_workName.c_str(), 0);
  if (m_nameLock.IsOpen()) {
    const std::string key = LockKey(m_folder.Get(), m_name);
    if (!key.empty()) LockHandover::Keep(key, m_nameLock);
  }
}

LockHandover::LockHandover() : m_outer(t_handover) { t_handover = this; }

LockHandover::~LockHandover() { t_handover = m_outer; }

bool LockHandover::Keep(const std::string& key, FileDescriptor& lock) {
  if (t_handover == nullptr) return false;
  try {
    t_handover->m_kept.emplace_back(key, std::move(lock));
  } catch (...) {
    return false;  // no memory: the lock is released with its replacement
  }
  return true;
}

FileDescriptor LockHandover::Take(const std::string& key) {
  for (LockHandover* handover = t_handover; handover != nullptr; handover = handover->m_outer) {
    for (auto& [name, lock] : handover->m_kept) {
      if (name == key && lock.IsOpen()) return std::move(lock);
    }
  }
  return {};
}

std::string FileReplacement::FolderPath() const { return FolderOf(m_target); }

void FileReplacement::OpenTarget(Existing existing) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    // The last part is no link any more; one that appears meanwhile is not followed.
    FileDescriptor file(RetryOnInterrupt(
        [&] { return ::openat(m_folder.Get(), m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    if (!file.IsOpen()) {
      if (errno == ENOENT) return;  // a new file
      if (errno == ELOOP) throw odbc::errors::FileChanging(Wide(m_target), L"changed into a link while it was opened");
      if (errno == EACCES) throw odbc::errors::PermissionDenied(L"file", Wide(m_target), L"read");
      throw odbc::errors::IoError(L"Could not open", m_target, errno);
    }
    if (existing == Existing::Refuse) throw odbc::errors::FileExists(Wide(m_target));
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) throw odbc::errors::IoError(L"Could not read", m_target, errno);
    if (!S_ISREG(status.st_mode)) throw odbc::errors::NotAFile(Wide(m_target));
    if (RetryOnInterrupt([&] { return ::flock(file.Get(), LOCK_EX | LOCK_NB); }) != 0) {
      if (errno == EWOULDBLOCK) InUse(m_target);
      throw odbc::errors::IoError(L"Could not lock", m_target, errno);
    }
    // Whoever replaced the file before the lock was taken left a new file under the name: the
    // lock must be on that one.
    struct stat now {};
    if (::fstatat(m_folder.Get(), m_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != status.st_dev ||
        now.st_ino != status.st_ino) {
      continue;
    }
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (flags >= 0) ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK);
    // Replacing is writing: a file nobody may write stays as it is, also for root.
    if ((status.st_mode & kAnyWriteBit) == 0 ||
        ::faccessat(m_folder.Get(), m_name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
      throw odbc::errors::FileWriteProtected(Wide(m_target));
    }
    m_original = std::move(file);
    m_originalStatus = status;
    m_lastSeen = status;
    return;
  }
  throw odbc::errors::FileChanging(Wide(m_target), L"keeps being replaced by another program");
}

void FileReplacement::OpenWorkFile() {
  const std::string folder = FolderPath();
  // 0666 less the umask (open applies it) for a new file; an existing file's bits are copied.
  m_work = FileDescriptor(
      RetryOnInterrupt([&] { return ::openat(m_folder.Get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666); }));
  if (!m_work.IsOpen() && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    for (int attempt = 0; attempt < kNameAttempts && !m_work.IsOpen(); ++attempt) {
      const std::string name = HiddenName();
      m_work = FileDescriptor(RetryOnInterrupt(
          [&] { return ::openat(m_folder.Get(), name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666); }));
      if (m_work.IsOpen())
        m_workName = name;
      else if (errno != EEXIST)
        break;
    }
  }
  if (!m_work.IsOpen()) {
    if (errno == EACCES || errno == EPERM || errno == EROFS) {
      throw odbc::errors::FolderNotWritable(Wide(m_target), Wide(folder));
    }
    throw odbc::errors::IoError(L"Could not create a file in", folder, errno);
  }
  if (!Exists()) return;
  struct stat work {};
  if (::fstat(m_work.Get(), &work) != 0) throw odbc::errors::IoError(L"Could not read", m_target, errno);
  if ((work.st_uid != m_originalStatus.st_uid || work.st_gid != m_originalStatus.st_gid) &&
      ::fchown(m_work.Get(), m_originalStatus.st_uid, m_originalStatus.st_gid) != 0) {
    throw odbc::errors::OwnerNotKept(Wide(m_target));
  }
  CopyAttributes(m_original.Get(), m_work.Get(), m_target);
  // After fchown, which clears set-user-id and set-group-id bits, and after the ACL, which sets
  // the group bits from its mask.
  if (::fchmod(m_work.Get(), m_originalStatus.st_mode & kPermissionBits) != 0) {
    throw odbc::errors::IoError(L"Could not set the permissions of", m_target, errno);
  }
}

void FileReplacement::Commit() {
  Sync(m_work.Get(), m_target);
  const int folder = m_folder.Get();
  if (!Exists() && !m_published) {
    // link(), unlike rename(), never replaces a file that appeared under the name meanwhile.
    int linked;
    if (m_workName.empty()) {
      const std::string self = "/proc/self/fd/" + std::to_string(m_work.Get());
      linked = ::linkat(AT_FDCWD, self.c_str(), folder, m_name.c_str(), AT_SYMLINK_FOLLOW);
    } else {
      linked = ::linkat(folder, m_workName.c_str(), folder, m_name.c_str(), 0);
    }
    if (linked != 0) {
      if (errno == EEXIST) throw odbc::errors::CreatedMeanwhile(Wide(m_target));
      throw odbc::errors::IoError(L"Could not create", m_target, errno);
    }
    if (!m_workName.empty()) ::unlinkat(folder, m_workName.c_str(), 0);
  } else {
    CheckUnchanged();
    std::string name = m_workName;
    if (name.empty()) {
      // The finished file gets a short hidden name just long enough to be renamed.
      const std::string self = "/proc/self/fd/" + std::to_string(m_work.Get());
      for (int attempt = 0; attempt < kNameAttempts && name.empty(); ++attempt) {
        const std::string candidate = HiddenName();
        if (::linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)
          name = candidate;
        else if (errno != EEXIST)
          throw odbc::errors::IoError(L"Could not replace", m_target, errno);
      }
      if (name.empty()) throw odbc::errors::IoError(L"Could not replace", m_target, EEXIST);
    }
    if (::renameat(folder, name.c_str(), folder, m_name.c_str()) != 0) {
      const int error = errno;
      ::unlinkat(folder, name.c_str(), 0);
      if (!m_workName.empty()) m_workName.clear();
      throw odbc::errors::IoError(L"Could not replace", m_target, error);
    }
  }
  m_committed = true;
  // The new name itself survives a power cut only once the folder is synced; some file
  // systems do not sync folders (EINVAL), which leaves nothing to do.
  if (RetryOnInterrupt([folder] { return ::fsync(folder); }) != 0 && errno != EINVAL) {
    throw odbc::errors::IoError(L"Could not write the folder of", m_target, errno);
  }
}

void FileReplacement::CheckUnchanged() const {
  struct stat now {};
  if (::fstatat(m_folder.Get(), m_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return;  // removed: nothing to lose
  if (now.st_dev != m_lastSeen.st_dev || now.st_ino != m_lastSeen.st_ino || now.st_size != m_lastSeen.st_size ||
      now.st_mtim.tv_sec != m_lastSeen.st_mtim.tv_sec || now.st_mtim.tv_nsec != m_lastSeen.st_mtim.tv_nsec) {
    throw odbc::errors::FileChanging(Wide(m_target),
                                     L"was changed by another program while it was being written; it was left as that "
                                     L"program left it");
  }
}

void FileReplacement::CommitCopy() {
  struct stat status {};
  if (::fstat(m_work.Get(), &status) != 0) throw odbc::errors::IoError(L"Could not read", m_target, errno);
  // Copying moves the file position (SEEK_DATA), on which a writer's appends may rely.
  const off_t position = ::lseek(m_work.Get(), 0, SEEK_CUR);
  // The copy becomes the work file for Commit; the writer's own work file is put back after.
  FileDescriptor kept = std::move(m_work);
  std::string keptName = std::move(m_workName);
  m_workName.clear();
  try {
    OpenWorkFile();
    CopyFileContent(kept.Get(), m_work.Get(), static_cast<std::uint64_t>(status.st_size), m_target, m_target);
    Commit();
  } catch (...) {
    if (!m_workName.empty()) ::unlinkat(m_folder.Get(), m_workName.c_str(), 0);
    m_work = std::move(kept);
    m_workName = std::move(keptName);
    if (position >= 0) ::lseek(m_work.Get(), position, SEEK_SET);
    throw;
  }
  // What is under the name now, for the next commit's look at whether another program changed it.
  struct stat published {};
  if (::fstat(m_work.Get(), &published) == 0) m_lastSeen = published;
  m_work = std::move(kept);
  if (position >= 0) ::lseek(m_work.Get(), position, SEEK_SET);
  m_workName = std::move(keptName);
  m_committed = false;
  m_published = true;
}

}  // namespace quillon::file
