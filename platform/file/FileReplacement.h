// Replacing a file so that it only ever holds a complete version: the new version is written
// to a work file that has no name (O_TMPFILE in the target's folder) and is put in the file's
// place when done. An existing file's owner, group, permission bits and extended attributes
// (ACLs among them) pass to the new version; an attribute of the security or trusted namespaces
// that this process may not set (a security label, file capabilities) is left to the system, any
// other that cannot be copied refuses the replacement. A symbolic link is followed and the file
// it names is the one replaced; a hard link is not: the new version is a new file, and the
// file's other names keep the old version.
//
// While the object lives it holds the file's lock, which every other replacement of the same
// file (in this process or another) honours: the lock is taken on the name, so it also guards a
// file that does not exist yet, and on the existing file itself (flock). A second replacement of
// a locked file is refused at once. Nothing named is made until Commit, which names the finished
// work file ".<name>.quillon-XXXXXX" for the moment it takes to rename it over the target; only
// where the file system lacks O_TMPFILE does the work file carry that name throughout, removed
// by the destructor. A process killed in between leaves that name behind, and the next
// replacement of the same file, holding its lock, removes it.
#pragma once

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/file/FileDescriptor.h"

namespace quillon::file {

// Keeps a file locked from one FileReplacement to the next, for a writer that writes the same
// file several times over and must not let another writer in between (a driver that commits
// and goes on). While a handover lives, the lock of every FileReplacement that the same thread
// destroys is kept by it rather than released, and a FileReplacement of the same file that the
// thread creates takes that lock over; what is not taken over is released with the handover.
// Other threads and processes see the file locked throughout.
class LockHandover {
 public:
  LockHandover();
  ~LockHandover();
  LockHandover(const LockHandover&) = delete;
  LockHandover& operator=(const LockHandover&) = delete;

  // For FileReplacement: keeps `lock`, the lock named `key`; false when no handover lives on
  // this thread (the lock is then the caller's to release).
  static bool Keep(const std::string& key, FileDescriptor& lock);
  // For FileReplacement: the kept lock named `key`, or none.
  static FileDescriptor Take(const std::string& key);

 private:
  LockHandover* m_outer;
  std::vector<std::pair<std::string, FileDescriptor>> m_kept;
};

class FileReplacement {
 public:
  enum class Existing {
    Replace,  // an existing file is replaced; a missing one is created
    Refuse,   // only a new file is made; an existing one is refused
  };

  // Locks `path` (UTF-8) and opens the work file. Throws odbc::CDBException (HY000) when the file
  // is in use, is not a regular file, is read-only (no write permission for this user, or no
  // write bit at all: such a file stays as it is even for root), belongs to an owner or group
  // the new version could not be given, or its folder is missing or not writable; errors of the
  // file system itself, and an extended attribute that cannot be kept, come as odbc::errors::IoError.
  FileReplacement(const std::string& path, Existing existing);
  // Drops an uncommitted work file (and the hidden name of the fallback) and releases the lock.
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // The file that is replaced, symbolic links resolved.
  const std::string& Target() const { return m_target; }
  // True when a file exists at Target(); Original() then reads it (the locked version).
  bool Exists() const { return m_original.IsOpen(); }
  int Original() const { return m_original.Get(); }
  // The new version, empty at first, open for reading and writing.
  int WorkFile() const { return m_work.Get(); }

  // Syncs the work file and gives it the target's name: renamed over the existing file, or
  // linked as a new one (never over a file that appeared meanwhile). A file that another
  // program, not honouring the lock, replaced or rewrote since it was opened (or since the last
  // CommitCopy) is kept and the commit refused, rather than its changes lost. The lock is held
  // until destruction. Throws odbc::CDBException; the target is then as it was.
  void Commit();
  // Puts a copy of the work file's content in the target's place, as Commit does, and keeps the
  // work file unnamed and open, so that a writer that goes on can commit again (by CommitCopy
  // or Commit). Original() stays the version the object opened. Costs a copy of the work file
  // (a reflink where the file system has them). Throws odbc::CDBException; the target is then
  // as it was and the work file unchanged.
  void CommitCopy();

 private:
  void OpenTarget(Existing existing);
  // The hidden name a work file of this target takes, and what all such names begin with.
  std::string HiddenName() const;
  std::string LeftoverPrefix() const;
  // Removes the hidden names that a replacement of this file, killed, left behind: while the
  // lock is held no other replacement of the file is under way.
  void RemoveLeftovers() const;
  // Refuses to replace a file that is no longer the version last seen under the name.
  void CheckUnchanged() const;
  void OpenWorkFile();
  std::string FolderPath() const;

  std::string m_target;
  std::string m_name;  // the last part of m_target
  FileDescriptor m_folder;
  FileDescriptor m_nameLock;
  FileDescriptor m_original;
  struct stat m_originalStatus {};
  FileDescriptor m_work;
  std::string m_workName;  // the fallback's hidden name in the folder, empty when anonymous
  bool m_committed = false;
  bool m_published = false;   // a copy was committed: the target exists now even if it did not
  struct stat m_lastSeen {};  // the file under the name as opened or last published
};

}  // namespace quillon::file
