// The replace-a-file helper on its own: nothing named before Commit, the lock, the mode of the
// replaced file, and the one kind of error a failed write raises.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/file/FileReplacement.h"
#include "platform/text/WideText.h"
#include "tests/support/TempDir.h"

namespace quillon::file {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(FileReplacement, NothingIsNamedBeforeCommitAndANewFileAppearsWhole) {
  testing::TempDir dir;
  const fs::path target = dir / "new.bin";
  {
    FileReplacement replacement(target.string(), FileReplacement::Existing::Refuse);
    EXPECT_FALSE(replacement.Exists());
    WriteAll(replacement.WorkFile(), "abc", 3, 0, target.string());
    EXPECT_TRUE(Listing(dir.Path()).empty());
  }
  EXPECT_TRUE(Listing(dir.Path()).empty());  // dropped without a trace
  {
    FileReplacement replacement(target.string(), FileReplacement::Existing::Refuse);
    WriteAll(replacement.WorkFile(), "abc", 3, 0, target.string());
    replacement.Commit();
  }
  EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"new.bin"});
  EXPECT_EQ(Contents(target), "abc");
  EXPECT_THROW(FileReplacement(target.string(), FileReplacement::Existing::Refuse), odbc::CDBException);
}

// A program that ignores the lock and replaces or rewrites the file meanwhile keeps its
// version: the commit is refused rather than its changes lost, before and after a CommitCopy.
TEST(FileReplacement, AFileChangedByAnotherProgramMeanwhileIsNotReplaced) {
  const auto replaceIt = [](const fs::path& target) {
    std::ofstream(target.string() + ".new", std::ios::binary) << "theirs";
    fs::rename(target.string() + ".new", target);
  };
  const auto rewriteIt = [](const fs::path& target) { std::ofstream(target, std::ios::binary) << "theirs"; };
  for (const auto& change : {+replaceIt, +rewriteIt}) {
    for (const bool afterCopy : {false, true}) {
      testing::TempDir dir;
      const fs::path target = dir / "shared.bin";
      std::ofstream(target, std::ios::binary) << "old";
      FileReplacement replacement(target.string(), FileReplacement::Existing::Replace);
      WriteAll(replacement.WorkFile(), "ours", 4, -1, target.string());
      if (afterCopy) replacement.CommitCopy();
      change(target);
      EXPECT_THROW(afterCopy ? replacement.CommitCopy() : replacement.Commit(), odbc::CDBException);
      EXPECT_EQ(Contents(target), "theirs");
    }
  }
}

// A process killed between naming its finished work file and renaming it leaves that hidden
// name; the next replacement of the same file removes it, and only it.
TEST(FileReplacement, TheNextReplacementRemovesTheHiddenNameAKilledOneLeft) {
  testing::TempDir dir;
  const fs::path target = dir / "data.bin";
  const std::set<std::string> kept = {"data.bin.quillon-abc123", ".other.bin.quillon-abc123",
                                      ".data.bin.quillon-abc1234", ".data.bin.quillon-dir123"};
  for (const auto& name : kept) std::ofstream(dir / name) << "x";
  fs::remove(dir / ".data.bin.quillon-dir123");
  fs::create_directory(dir / ".data.bin.quillon-dir123");
  std::ofstream(dir / ".data.bin.quillon-Zz9yX8") << "left by a killed writer";
  {
    FileReplacement replacement(target.string(), FileReplacement::Existing::Replace);
    WriteAll(replacement.WorkFile(), "new", 3, 0, target.string());
    replacement.Commit();
  }
  std::set<std::string> expected = kept;
  expected.insert("data.bin");
  EXPECT_EQ(Listing(dir.Path()), expected);
}

// A writer that commits and goes on: each copy is whole under the name, the work file keeps
// its content and position, and the original stays the version first opened.
TEST(FileReplacement, CommitCopyPublishesWhatIsWrittenSoFarAndGoesOn) {
  for (const bool existed : {false, true}) {
    testing::TempDir dir;
    const fs::path target = dir / "grows.bin";
    if (existed) std::ofstream(target, std::ios::binary) << "old";
    FileReplacement replacement(target.string(), FileReplacement::Existing::Replace);
    WriteAll(replacement.WorkFile(), "ab", 2, -1, target.string());
    replacement.CommitCopy();
    EXPECT_EQ(Contents(target), "ab");
    WriteAll(replacement.WorkFile(), "cd", 2, -1, target.string());  // appended after the copy
    EXPECT_EQ(Contents(target), "ab");
    replacement.CommitCopy();
    EXPECT_EQ(Contents(target), "abcd");
    if (existed) {
      char first[3] = {};
      EXPECT_EQ(::pread(replacement.Original(), first, 3, 0), 3);
      EXPECT_EQ(std::string(first, 3), "old");
    }
    WriteAll(replacement.WorkFile(), "e", 1, -1, target.string());
    replacement.Commit();
    EXPECT_EQ(Contents(target), "abcde");
    EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"grows.bin"});
  }
}

TEST(FileReplacement, AFileIsLockedWhileItIsReplacedAndKeepsItsMode) {
  testing::TempDir dir;
  const fs::path target = dir / "old.bin";
  std::ofstream(target) << "old";
  ::chmod(target.c_str(), 0640);
  {
    FileReplacement first(target.string(), FileReplacement::Existing::Replace);
    ASSERT_TRUE(first.Exists());
    char buffer[3];
    EXPECT_EQ(ReadAll(first.Original(), buffer, 3, 0, target.string()), 3u);
    try {
      FileReplacement second(target.string(), FileReplacement::Existing::Replace);
      ADD_FAILURE() << "a locked file was opened twice";
    } catch (const odbc::CDBException& e) {
      EXPECT_NE(e.m_strMessage.find(L"in use"), std::wstring::npos) << text::WideToUtf8(e.m_strMessage);
    }
    WriteAll(first.WorkFile(), "new", 3, 0, target.string());
    first.Commit();
  }
  EXPECT_EQ(Contents(target), "new");
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"old.bin"});
  FileReplacement again(target.string(), FileReplacement::Existing::Replace);  // the lock went with the first
  EXPECT_TRUE(again.Exists());
}

// A writer that commits and goes on keeps the file locked from one replacement to the next:
// another thread (as another process) finds it in use throughout, the writer's own thread takes
// the lock over, and the lock goes with the handover.
TEST(FileReplacement, AHandoverKeepsTheLockBetweenReplacements) {
  testing::TempDir dir;
  const std::string target = (dir / "db.bin").string();
  auto lockedElsewhere = [&] {
    bool refused = false;
    std::thread([&] {
      try {
        FileReplacement other(target, FileReplacement::Existing::Replace);
      } catch (const odbc::CDBException&) {
        refused = true;
      }
    }).join();
    return refused;
  };
  {
    LockHandover handover;
    { FileReplacement first(target, FileReplacement::Existing::Replace); }
    EXPECT_TRUE(lockedElsewhere());
    FileReplacement next(target, FileReplacement::Existing::Replace);
    EXPECT_TRUE(lockedElsewhere());
  }
  EXPECT_FALSE(lockedElsewhere());
}

TEST(FileReplacement, AFailedWriteIsAnIoErrorNamingThePathAndTheCause) {
  testing::TempDir dir;
  const fs::path target = dir / "big.bin";
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  FileReplacement replacement(target.string(), FileReplacement::Existing::Replace);
  const std::string block(8192, 'x');
  try {
    WriteAll(replacement.WorkFile(), block.data(), block.size(), 0, target.string());
    ADD_FAILURE() << "the write went past the limit";
  } catch (const odbc::CDBException& e) {
    EXPECT_TRUE(odbc::errors::IsIoError(e));
    EXPECT_NE(e.m_strMessage.find(text::Utf8ToWide(target.string())), std::wstring::npos);
    EXPECT_NE(e.m_strMessage.find(L"File too large"), std::wstring::npos) << text::WideToUtf8(e.m_strMessage);
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(Listing(dir.Path()).empty());
}

// Kernel copies that make CopyFileContent take its buffered way: one refused outright, as
// between two file systems, and one that stops short, as some file systems do.
ssize_t RefusedCopy(int, off_t*, int, off_t*, std::size_t, unsigned) {
  errno = EXDEV;
  return -1;
}
ssize_t ShortCopy(int from, off_t* in, int to, off_t* out, std::size_t size, unsigned flags) {
  static int calls = 0;
  if (++calls % 3 == 0) return 0;
  return ::copy_file_range(from, in, to, out, std::min<std::size_t>(size, 4000), flags);
}

TEST(CopyFileContent, CopiesAreByteIdenticalAndKeepHolesWhicheverWayTheBytesGo) {
  testing::TempDir dir;
  constexpr off_t kSize = 8 << 20;
  std::string dense(3 << 20, '\0');
  for (std::size_t i = 0; i < dense.size(); ++i) dense[i] = static_cast<char>(i * 7919 % 251);
  const fs::path sparse = dir / "sparse", full = dir / "dense";
  {
    FileDescriptor fd(::open(sparse.c_str(), O_CREAT | O_WRONLY, 0600));
    WriteAll(fd.Get(), dense.data(), 100000, 0, sparse);
    WriteAll(fd.Get(), "tail", 4, 5 << 20, sparse);
    ASSERT_EQ(::ftruncate(fd.Get(), kSize), 0);
    std::ofstream(full, std::ios::binary) << dense;
  }
  const auto blocks = [](const fs::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return static_cast<off_t>(status.st_blocks) * 512;
  };
  const KernelCopy kernel = SetKernelCopy(nullptr);
  for (const KernelCopy copy : {kernel, KernelCopy{RefusedCopy}, KernelCopy{ShortCopy}}) {
    SetKernelCopy(copy);
    for (const fs::path& from : {sparse, full}) {
      const fs::path to = dir / "copy";
      {
        FileDescriptor in(::open(from.c_str(), O_RDONLY));
        FileDescriptor out(::open(to.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600));
        // Something past the end already there is cut off.
        WriteAll(out.Get(), "x", 1, 9 << 20, to);
        CopyFileContent(in.Get(), out.Get(), fs::file_size(from), from, to);
      }
      EXPECT_EQ(testing::ReadBytes(to), testing::ReadBytes(from)) << from;
      if (from == sparse && blocks(sparse) < kSize) EXPECT_LT(blocks(to), kSize / 2);
    }
  }
  SetKernelCopy(kernel);
}

}  // namespace
}  // namespace quillon::file
