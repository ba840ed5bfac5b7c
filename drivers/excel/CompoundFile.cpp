#include "drivers/excel/CompoundFile.h"

#include <fcntl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>

#include "drivers/excel/ContainerCheck.h"
#include "drivers/excel/Workbook.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/loader/SharedLibrary.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

constexpr const char* kWorkbookStream = "Workbook";
constexpr const char* kBiff5Stream = "Book";
constexpr std::size_t kChunk = 1 << 16;
constexpr std::size_t kClassIdSize = 16;

// The layout of a compound file as written here: a header sector, then 512-byte sectors for
// streams of 4096 bytes and more, the others in 64-byte sectors of the ministream; directory
// entries of 128 bytes; each sector of the allocation table lists 128 sectors, and past the 109
// that the header lists, each sector of the master table lists 127 of them.
namespace cfb {
constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kMiniSector = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
constexpr std::uint64_t kDirectoryEntry = 128;
constexpr std::uint64_t kSectorIdSize = 4;
constexpr std::uint64_t kIdsPerSector = kSector / kSectorIdSize;
constexpr std::uint64_t kHeaderTableEntries = 109;
constexpr std::uint64_t kIdsPerMasterSector = kIdsPerSector - 1;
}  // namespace cfb

// The container library's own warnings about a file (it logs them to standard error) are not
// shown: a file it has doubts about is refused, with the driver's message, before it is read.
void DropLibraryWarning(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// libgsf and the GLib functions it stands on, loaded the first time an existing file is read: a
// run that only writes new files never maps them. Each pointer is named as the library names it;
// libgsf stays loaded, as its GObject types are registered once for the process.
constexpr const char* kGsfLibrary = "libgsf-1.so.114";
struct Gsf {
  Gsf() {
    gsf_init();
    constexpr auto kAllLevels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
    for (const char* domain : {"libgsf", "libgsf:msole", "gsf"})
      g_log_set_handler(domain, kAllLevels, DropLibraryWarning, nullptr);
  }
  // Whether `object` is an instance of `type` (the G_TYPE_CHECK_INSTANCE_TYPE of the macros).
  bool IsA(const void* object, GType type) const {
    return g_type_check_instance_is_a(static_cast<GTypeInstance*>(const_cast<void*>(object)), type);
  }

  loader::SharedLibrary library{kGsfLibrary};
  QUILLON_LIBRARY_FUNCTION(gsf_init);
  QUILLON_LIBRARY_FUNCTION(gsf_input_stdio_new_FILE);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_msole_new);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_msole_get_type);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_msole_get_class_id);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_get_type);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_num_children);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_name_by_index);
  QUILLON_LIBRARY_FUNCTION(gsf_infile_child_by_index);
  QUILLON_LIBRARY_FUNCTION(gsf_input_size);
  QUILLON_LIBRARY_FUNCTION(gsf_input_seek);
  QUILLON_LIBRARY_FUNCTION(gsf_input_read);
  QUILLON_LIBRARY_FUNCTION(g_type_check_instance_is_a);
  QUILLON_LIBRARY_FUNCTION(g_object_unref);
  QUILLON_LIBRARY_FUNCTION(g_error_free);
  QUILLON_LIBRARY_FUNCTION(g_log_set_handler);
};

// Loads libgsf once for the process (again on the next call when loading failed); throws
// odbc::errors::LibraryNotLoaded when it cannot.
const Gsf& GsfLibrary() {
  static const Gsf gsf;
  return gsf;
}

// A storage (GsfInfile) rather than a stream.
bool IsStorage(const Gsf& gsf, GsfInput* entry) {
  return gsf.IsA(entry, gsf.gsf_infile_get_type()) &&
         gsf.gsf_infile_num_children(reinterpret_cast<GsfInfile*>(entry)) >= 0;
}

// The container reports a failed write without its cause; the system's is still in errno.
[[noreturn]] void WriteFailure(const std::string& path, const std::string& why) {
  const int error = errno;
  if (error != 0) throw odbc::errors::IoError(L"Could not write", path, error);
  throw odbc::errors::WriteRefused(path, text::Utf8ToWide(why));
}

// A stdio stream on a duplicate of `fd`, for libgsf, which closes it when done.
std::FILE* StreamOn(int fd, const char* mode, const std::string& path) {
  file::FileDescriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy.IsOpen()) throw odbc::errors::IoError(L"Could not open", path, errno);
  std::FILE* stream = ::fdopen(copy.Get(), mode);
  if (stream == nullptr) throw odbc::errors::IoError(L"Could not open", path, errno);
  copy.Release();
  return stream;
}

struct GObjectRelease {
  void operator()(void* object) const {
    if (object != nullptr) GsfLibrary().g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectRelease>;

}  // namespace

struct CompoundFile::Impl {
  GPtr<GsfInput> input;
  GPtr<GsfInfile> ole;
  GPtr<GsfInput> workbook;
};

CompoundFile::CompoundFile(int fd, const std::string& path) : m_impl(std::make_unique<Impl>()) {
  const Gsf& gsf = GsfLibrary();
  CheckContainer(fd);
  GError* error = nullptr;
  std::FILE* stream = StreamOn(fd, "rb", path);
  m_impl->input.reset(gsf.gsf_input_stdio_new_FILE(path.c_str(), stream, FALSE));
  if (!m_impl->input) {
    std::fclose(stream);
    throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"it"));
  }
  m_impl->ole.reset(gsf.gsf_infile_msole_new(m_impl->input.get(), &error));
  if (!m_impl->ole) {
    if (error != nullptr) gsf.g_error_free(error);
    throw WorkbookRefused(odbc::errors::WorkbookNotAddable(L"it is not an Excel workbook (not a compound document)"));
  }
  const int count = gsf.gsf_infile_num_children(m_impl->ole.get());
  bool biff5 = false;
  for (int i = 0; i < count; ++i) {
    const char* name = gsf.gsf_infile_name_by_index(m_impl->ole.get(), i);
    if (name == nullptr) continue;
    if (strcasecmp(name, kWorkbookStream) == 0)
      m_impl->workbook.reset(gsf.gsf_infile_child_by_index(m_impl->ole.get(), i));
    if (strcasecmp(name, kBiff5Stream) == 0) biff5 = true;
  }
  if (!m_impl->workbook) {
    throw WorkbookRefused(odbc::errors::WorkbookNotAddable(
        biff5 ? L"it is an Excel 5.0/95 (BIFF5) workbook; only Excel 97-2003 workbooks can be added to"
              : L"it is a compound document without a workbook stream"));
  }
  if (IsStorage(gsf, m_impl->workbook.get())) {
    throw WorkbookRefused(odbc::errors::WorkbookNotAddable(L"its workbook entry is a storage, not a stream"));
  }
}

namespace {

file::FileDescriptor OpenToRead(const std::string& path) {
  file::FileDescriptor fd(file::RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!fd.IsOpen()) throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"it", errno));
  return fd;
}

}  // namespace

CompoundFile::CompoundFile(const std::string& path) : CompoundFile(OpenToRead(path).Get(), path) {}

CompoundFile::~CompoundFile() = default;

std::vector<std::uint8_t> CompoundFile::ReadWorkbookStream() const {
  const Gsf& gsf = GsfLibrary();
  GsfInput* input = m_impl->workbook.get();
  const gsf_off_t size = gsf.gsf_input_size(input);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && (gsf.gsf_input_seek(input, 0, G_SEEK_SET) ||
                   gsf.gsf_input_read(input, static_cast<std::size_t>(size), bytes.data()) == nullptr)) {
    throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"its workbook stream"));
  }
  return bytes;
}

namespace {

// Serves reads from a window of the stream, refilled where a read falls outside it: the
// workbook's records are read in order, a few bytes at a time.
class GsfSource : public ByteSource {
 public:
  explicit GsfSource(GsfInput* input)
      : m_gsf(GsfLibrary()), m_input(input), m_size(static_cast<std::uint64_t>(m_gsf.gsf_input_size(input))) {}
  std::uint64_t Size() const override { return m_size; }
  void Read(std::uint64_t offset, void* out, std::size_t size) override {
    auto* target = static_cast<std::uint8_t*>(out);
    while (size > 0) {
      if (offset < m_windowStart || offset >= m_windowStart + m_window.size()) Fill(offset);
      const std::size_t at = static_cast<std::size_t>(offset - m_windowStart);
      const std::size_t n = std::min(size, m_window.size() - at);
      std::memcpy(target, m_window.data() + at, n);
      target += n, offset += n, size -= n;
    }
  }

 private:
  void Fill(std::uint64_t offset) {
    if (offset >= m_size)
      throw WorkbookRefused(odbc::errors::WorkbookDamaged(L"a read went past the end of the workbook stream"));
    m_window.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, m_size - offset)));
    if (m_gsf.gsf_input_seek(m_input, static_cast<gsf_off_t>(offset), G_SEEK_SET) ||
        m_gsf.gsf_input_read(m_input, m_window.size(), m_window.data()) == nullptr) {
      throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"its workbook stream"));
    }
    m_windowStart = offset;
  }
  const Gsf& m_gsf;
  GsfInput* m_input;
  std::uint64_t m_size;
  std::uint64_t m_windowStart = 0;
  std::vector<std::uint8_t> m_window;
};

}  // namespace

std::unique_ptr<ByteSource> CompoundFile::WorkbookSource() const {
  return std::make_unique<GsfSource>(m_impl->workbook.get());
}

namespace {

std::uint64_t Sectors(std::uint64_t bytes, std::uint64_t sector) { return (bytes + sector - 1) / sector; }

// Adds the entries under `from` (the workbook stream of the top level left out) to the counts.
void CountEntries(GsfInfile* from, bool skipWorkbook, std::uint64_t& entries, std::uint64_t& bigSectors,
                  std::uint64_t& miniSectors) {
  const Gsf& gsf = GsfLibrary();
  const int count = gsf.gsf_infile_num_children(from);
  for (int i = 0; i < count; ++i) {
    const char* name = gsf.gsf_infile_name_by_index(from, i);
    if (name == nullptr || (skipWorkbook && strcasecmp(name, kWorkbookStream) == 0)) continue;
    GPtr<GsfInput> child(gsf.gsf_infile_child_by_index(from, i));
    if (!child) continue;
    ++entries;
    if (IsStorage(gsf, child.get())) {
      CountEntries(reinterpret_cast<GsfInfile*>(child.get()), false, entries, bigSectors, miniSectors);
      continue;
    }
    const auto size = static_cast<std::uint64_t>(gsf.gsf_input_size(child.get()));
    if (size < cfb::kMiniStreamCutoff)
      miniSectors += Sectors(size, cfb::kMiniSector);
    else
      bigSectors += Sectors(size, cfb::kSector);
  }
}

}  // namespace

std::uint64_t CompoundFileSize(std::uint64_t workbookSize, const CompoundFile* previous) {
  std::uint64_t entries = 2;  // the root and the workbook stream
  std::uint64_t bigSectors = 0;
  std::uint64_t miniSectors = 0;
  if (workbookSize < cfb::kMiniStreamCutoff)
    miniSectors += Sectors(workbookSize, cfb::kMiniSector);
  else
    bigSectors += Sectors(workbookSize, cfb::kSector);
  if (previous != nullptr) CountEntries(previous->m_impl->ole.get(), true, entries, bigSectors, miniSectors);
  // The ministream and its allocation table, and the directory, take whole sectors.
  std::uint64_t sectors = bigSectors + Sectors(miniSectors * cfb::kMiniSector, cfb::kSector) +
                          Sectors(miniSectors, cfb::kIdsPerSector) +
                          Sectors(entries * cfb::kDirectoryEntry, cfb::kSector);
  // The allocation table lists every sector, its own and the master table's among them.
  std::uint64_t table = 0;
  std::uint64_t master = 0;
  for (;;) {
    const std::uint64_t needed = Sectors(sectors + table + master, cfb::kIdsPerSector);
    const std::uint64_t masterNeeded =
        needed > cfb::kHeaderTableEntries ? Sectors(needed - cfb::kHeaderTableEntries, cfb::kIdsPerMasterSector) : 0;
    if (needed == table && masterNeeded == master) break;
    table = needed;
    master = masterNeeded;
  }
  return cfb::kSector * (1 + sectors + table + master);
}

namespace {

// The parts of a compound file (version 3) as written here.
namespace cfb {
constexpr std::uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint16_t kMinorVersion = 0x003E;
constexpr std::uint16_t kMajorVersion = 0x0003;
constexpr std::uint16_t kByteOrder = 0xFFFE;
constexpr std::uint16_t kSectorShift = 9;
constexpr std::uint16_t kMiniSectorShift = 6;
// Header fields.
constexpr std::size_t kHeaderMinorVersion = 24;
constexpr std::size_t kHeaderMajorVersion = 26;
constexpr std::size_t kHeaderByteOrder = 28;
constexpr std::size_t kHeaderSectorShift = 30;
constexpr std::size_t kHeaderMiniSectorShift = 32;
constexpr std::size_t kHeaderFatSectors = 44;
constexpr std::size_t kHeaderFirstDirectorySector = 48;
constexpr std::size_t kHeaderMiniStreamCutoff = 56;
constexpr std::size_t kHeaderFirstMiniFatSector = 60;
constexpr std::size_t kHeaderMiniFatSectors = 64;
constexpr std::size_t kHeaderFirstMasterSector = 68;
constexpr std::size_t kHeaderMasterSectors = 72;
constexpr std::size_t kHeaderTable = 76;
// Sector marks in the allocation tables.
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kMasterSector = 0xFFFFFFFC;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
// Directory entry fields.
constexpr std::size_t kEntryNameBytes = 64;
constexpr std::size_t kEntryNameLength = 64;
constexpr std::size_t kEntryType = 66;
constexpr std::size_t kEntryColour = 67;
constexpr std::size_t kEntryLeft = 68;
constexpr std::size_t kEntryRight = 72;
constexpr std::size_t kEntryChild = 76;
constexpr std::size_t kEntryClassId = 80;
constexpr std::size_t kEntryStart = 116;
constexpr std::size_t kEntrySize = 120;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
constexpr std::uint8_t kBlack = 1;
constexpr std::size_t kMaxNameUnits = 31;
}  // namespace cfb

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Consecutive sectors of one chain of the allocation table, or sectors that all hold a mark (the
// table's own). Chains are kept as runs: a large file's table would take megabytes.
struct SectorRun {
  std::uint32_t first;
  std::uint32_t count;
  std::uint32_t next;  // the chain's next sector after the run, or the end mark
  std::uint32_t mark;  // 0, or what each of the sectors holds
};

// A stream of 4096 bytes or more written into sectors of the file as it comes, in runs of whole
// sectors. A spool of the same file that reaches it at the start of a sector is not copied: its
// sectors become the stream's where they lie.
class SectorSink : public Sink {
 public:
  // The stream's sectors go into `runs` as they are taken.
  SectorSink(SpoolFile& file, std::vector<SectorRun>& runs) : m_file(file), m_runs(runs) {
    m_buffer.reserve(Spool::kBufferSize);
  }
  void Write(const void* data, std::size_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_position += size;
    m_buffer.insert(m_buffer.end(), p, p + size);
    if (m_buffer.size() >= Spool::kBufferSize) Put(m_buffer.size() - m_buffer.size() % cfb::kSector);
  }
  void WriteSpool(const Spool& spool) override {
    if (&spool.File() != &m_file || m_position % cfb::kSector != 0) {
      Sink::WriteSpool(spool);
      return;
    }
    Put(m_buffer.size());
    for (const Spool::Run& run : spool.Runs()) {
      Link(run.first, run.count);
      m_position += std::uint64_t{run.count} * cfb::kSector;
    }
    const auto tail = spool.Buffered();
    if (!tail.empty()) Write(tail.data(), tail.size());
  }
  // Writes what is left; returns the stream's first sector (or the end mark).
  std::uint32_t Finish() {
    Put(m_buffer.size());
    return m_first;
  }

  // Appends `count` sectors from `first` on to the chain, which they end (sectors written already).
  void Link(std::uint32_t first, std::uint32_t count) {
    if (count == 0) return;
    if (m_first == cfb::kEndOfChain) {
      m_first = first;
    } else {
      SectorRun& last = m_runs[m_lastRun];
      if (last.first + last.count == first) {
        last.count += count;
        return;
      }
      last.next = first;
    }
    m_runs.push_back({first, count, cfb::kEndOfChain, 0});
    m_lastRun = m_runs.size() - 1;
  }

 private:
  // Writes the first `size` bytes of the buffer (whole sectors but for the stream's last).
  void Put(std::size_t size) {
    if (size == 0) return;
    const auto count = static_cast<std::uint32_t>(Sectors(size, cfb::kSector));
    const std::uint32_t first = m_file.Take(count);
    file::WriteAll(m_file.Fd(), m_buffer.data(), size, static_cast<off_t>(SpoolFile::Offset(first)), m_file.Path());
    Link(first, count);
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(size));
  }
  SpoolFile& m_file;
  std::vector<SectorRun>& m_runs;
  std::vector<std::uint8_t> m_buffer;
  std::uint32_t m_first = cfb::kEndOfChain;
  std::size_t m_lastRun = 0;
};

struct Entry {
  Entry(std::u16string entryName, std::uint8_t entryType) : name(std::move(entryName)), type(entryType) {}
  std::u16string name;
  std::uint8_t type;
  std::uint8_t classId[kClassIdSize] = {};
  std::uint32_t start = cfb::kEndOfChain;
  std::uint64_t size = 0;
  std::uint32_t left = cfb::kNoEntry, right = cfb::kNoEntry, child = cfb::kNoEntry;
  std::vector<std::uint32_t> children;
};

// Directory order: shorter names first, then by their upper-case UTF-16 units.
bool EntryBefore(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<char16_t>(std::towupper(a[i])), y = static_cast<char16_t>(std::towupper(b[i]));
    if (x != y) return x < y;
  }
  return false;
}

class CompoundWriter {
 public:
  CompoundWriter(SpoolFile& file, const std::string& path) : m_file(file), m_path(path) {
    m_entries.emplace_back(u"Root Entry", cfb::kTypeRoot);
  }

  // Adds a stream under the storage `parent` with the bytes `write` gives; `size` decides whether
  // it goes into the mini stream.
  void AddStream(std::uint32_t parent, std::u16string name, std::uint64_t size,
                 const std::function<void(Sink&)>& write) {
    Entry entry(std::move(name), cfb::kTypeStream);
    if (size < cfb::kMiniStreamCutoff) {
      MemorySink bytes;
      write(bytes);
      entry.size = bytes.Position();
      entry.start = AddMini(bytes.Bytes());
    } else {
      SectorSink sink(m_file, m_runs);
      write(sink);
      entry.size = sink.Position();
      entry.start = sink.Finish();
    }
    Add(parent, std::move(entry));
  }
  std::uint32_t AddStorage(std::uint32_t parent, std::u16string name, const std::uint8_t* classId) {
    Entry entry(std::move(name), cfb::kTypeStorage);
    if (classId != nullptr) std::memcpy(entry.classId, classId, kClassIdSize);
    return Add(parent, std::move(entry));
  }
  void SetRootClassId(const std::uint8_t* classId) { std::memcpy(m_entries[0].classId, classId, kClassIdSize); }

  void Finish() {
    // The mini stream and its table, the directory, then the allocation table and its master.
    if (!m_mini.empty()) {
      m_entries[0].start = WriteSectors(m_mini.data(), m_mini.size());
      m_entries[0].size = m_mini.size();
    }
    std::uint32_t miniFatStart = cfb::kEndOfChain;
    const std::uint64_t miniFatSectors = Sectors(m_miniFat.size() * cfb::kSectorIdSize, cfb::kSector);
    if (!m_miniFat.empty()) {
      std::vector<std::uint8_t> table(miniFatSectors * cfb::kSector, 0xFF);
      for (std::size_t i = 0; i < m_miniFat.size(); ++i) Put32(&table[i * cfb::kSectorIdSize], m_miniFat[i]);
      miniFatStart = WriteSectors(table.data(), table.size());
    }
    for (Entry& entry : m_entries) {
      if (entry.type == cfb::kTypeStream) continue;
      std::vector<std::uint32_t> children = entry.children;
      std::sort(children.begin(), children.end(),
                [this](std::uint32_t a, std::uint32_t b) { return EntryBefore(m_entries[a].name, m_entries[b].name); });
      entry.child = Tree(children, 0, children.size());
    }
    std::vector<std::uint8_t> directory(Sectors(m_entries.size() * cfb::kDirectoryEntry, cfb::kSector) * cfb::kSector);
    for (std::size_t at = 0; at < directory.size(); at += cfb::kDirectoryEntry) {
      std::uint8_t* p = &directory[at];
      Put32(p + cfb::kEntryLeft, cfb::kNoEntry);
      Put32(p + cfb::kEntryRight, cfb::kNoEntry);
      Put32(p + cfb::kEntryChild, cfb::kNoEntry);
      const std::size_t index = at / cfb::kDirectoryEntry;
      if (index >= m_entries.size()) continue;
      const Entry& entry = m_entries[index];
      for (std::size_t i = 0; i < entry.name.size(); ++i) Put16(p + 2 * i, entry.name[i]);
      Put16(p + cfb::kEntryNameLength, static_cast<std::uint16_t>(2 * (entry.name.size() + 1)));
      p[cfb::kEntryType] = entry.type;
      p[cfb::kEntryColour] = cfb::kBlack;
      Put32(p + cfb::kEntryLeft, entry.left);
      Put32(p + cfb::kEntryRight, entry.right);
      Put32(p + cfb::kEntryChild, entry.child);
      std::memcpy(p + cfb::kEntryClassId, entry.classId, kClassIdSize);
      Put32(p + cfb::kEntryStart, entry.type == cfb::kTypeStorage ? 0 : entry.start);
      Put32(p + cfb::kEntrySize, static_cast<std::uint32_t>(entry.type == cfb::kTypeStorage ? 0 : entry.size));
    }
    const std::uint32_t directoryStart = WriteSectors(directory.data(), directory.size());

    // The allocation table lists every sector, its own and the master table's among them.
    std::uint64_t table = 0, master = 0;
    for (;;) {
      const std::uint64_t needed = Sectors(m_file.Taken() + table + master, cfb::kIdsPerSector);
      const std::uint64_t masterNeeded =
          needed > cfb::kHeaderTableEntries ? Sectors(needed - cfb::kHeaderTableEntries, cfb::kIdsPerMasterSector) : 0;
      if (needed == table && masterNeeded == master) break;
      table = needed;
      master = masterNeeded;
    }
    const std::uint32_t tableStart = m_file.Take(static_cast<std::uint32_t>(table));
    const std::uint32_t masterStart = m_file.Take(static_cast<std::uint32_t>(master));
    m_runs.push_back({tableStart, static_cast<std::uint32_t>(table), cfb::kEndOfChain, cfb::kFatSector});
    if (master > 0)
      m_runs.push_back({masterStart, static_cast<std::uint32_t>(master), cfb::kEndOfChain, cfb::kMasterSector});
    WriteTable(tableStart, table * cfb::kIdsPerSector);
    // The header lists the first 109 table sectors, each master sector 127 more and the next.
    std::vector<std::uint8_t> header(cfb::kSector, 0);
    std::memcpy(header.data(), cfb::kSignature, sizeof cfb::kSignature);
    Put16(&header[cfb::kHeaderMinorVersion], cfb::kMinorVersion);
    Put16(&header[cfb::kHeaderMajorVersion], cfb::kMajorVersion);
    Put16(&header[cfb::kHeaderByteOrder], cfb::kByteOrder);
    Put16(&header[cfb::kHeaderSectorShift], cfb::kSectorShift);
    Put16(&header[cfb::kHeaderMiniSectorShift], cfb::kMiniSectorShift);
    Put32(&header[cfb::kHeaderFatSectors], static_cast<std::uint32_t>(table));
    Put32(&header[cfb::kHeaderFirstDirectorySector], directoryStart);
    Put32(&header[cfb::kHeaderMiniStreamCutoff], static_cast<std::uint32_t>(cfb::kMiniStreamCutoff));
    Put32(&header[cfb::kHeaderFirstMiniFatSector], miniFatStart);
    Put32(&header[cfb::kHeaderMiniFatSectors], static_cast<std::uint32_t>(miniFatSectors));
    Put32(&header[cfb::kHeaderFirstMasterSector], master > 0 ? masterStart : cfb::kEndOfChain);
    Put32(&header[cfb::kHeaderMasterSectors], static_cast<std::uint32_t>(master));
    std::fill(header.begin() + cfb::kHeaderTable, header.end(), std::uint8_t{0xFF});
    std::vector<std::uint8_t> masters(master * cfb::kSector, 0xFF);
    for (std::uint64_t i = 0; i < table; ++i) {
      const auto sector = static_cast<std::uint32_t>(tableStart + i);
      if (i < cfb::kHeaderTableEntries) {
        Put32(&header[cfb::kHeaderTable + i * cfb::kSectorIdSize], sector);
        continue;
      }
      const std::uint64_t k = i - cfb::kHeaderTableEntries;
      Put32(
          &masters[(k / cfb::kIdsPerMasterSector) * cfb::kSector + (k % cfb::kIdsPerMasterSector) * cfb::kSectorIdSize],
          sector);
    }
    for (std::uint64_t m = 0; m < master; ++m) {
      Put32(&masters[m * cfb::kSector + cfb::kIdsPerMasterSector * cfb::kSectorIdSize],
            m + 1 < master ? static_cast<std::uint32_t>(masterStart + m + 1) : cfb::kEndOfChain);
    }
    if (master > 0)
      file::WriteAll(m_file.Fd(), masters.data(), masters.size(), static_cast<off_t>(SpoolFile::Offset(masterStart)),
                     m_path);
    file::WriteAll(m_file.Fd(), header.data(), header.size(), 0, m_path);
    const auto end = static_cast<off_t>(SpoolFile::Offset(m_file.Taken()));
    if (file::RetryOnInterrupt([&] { return ::ftruncate(m_file.Fd(), end); }) != 0)
      throw odbc::errors::IoError(L"Could not write", m_path, errno);
  }

 private:
  std::uint32_t Add(std::uint32_t parent, Entry entry) {
    if (entry.name.size() > cfb::kMaxNameUnits) entry.name.resize(cfb::kMaxNameUnits);
    m_entries.push_back(std::move(entry));
    const auto index = static_cast<std::uint32_t>(m_entries.size() - 1);
    m_entries[parent].children.push_back(index);
    return index;
  }
  // Writes the allocation table's `entries` at sector `start`, from the runs, in pieces.
  void WriteTable(std::uint32_t start, std::uint64_t entries) {
    std::sort(m_runs.begin(), m_runs.end(), [](const SectorRun& a, const SectorRun& b) { return a.first < b.first; });
    std::vector<std::uint8_t> bytes(Spool::kBufferSize);
    const std::uint64_t perPiece = bytes.size() / cfb::kSectorIdSize;
    std::size_t r = 0;
    for (std::uint64_t from = 0; from < entries; from += perPiece) {
      const std::uint64_t n = std::min(perPiece, entries - from);
      for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t sector = from + i;
        while (r < m_runs.size() && std::uint64_t{m_runs[r].first} + m_runs[r].count <= sector) ++r;
        std::uint32_t value = cfb::kFree;
        if (r < m_runs.size() && m_runs[r].first <= sector) {
          const SectorRun& run = m_runs[r];
          if (run.mark != 0)
            value = run.mark;
          else
            value =
                sector + 1 < std::uint64_t{run.first} + run.count ? static_cast<std::uint32_t>(sector + 1) : run.next;
        }
        Put32(&bytes[i * cfb::kSectorIdSize], value);
      }
      file::WriteAll(m_file.Fd(), bytes.data(), n * cfb::kSectorIdSize,
                     static_cast<off_t>(SpoolFile::Offset(start) + from * cfb::kSectorIdSize), m_path);
    }
  }

  std::uint32_t WriteSectors(const std::uint8_t* data, std::size_t size) {
    const auto count = static_cast<std::uint32_t>(Sectors(size, cfb::kSector));
    const std::uint32_t first = m_file.Take(count);
    file::WriteAll(m_file.Fd(), data, size, static_cast<off_t>(SpoolFile::Offset(first)), m_path);
    SectorSink chain(m_file, m_runs);
    chain.Link(first, count);
    return chain.Finish();
  }
  std::uint32_t AddMini(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return cfb::kEndOfChain;
    const auto first = static_cast<std::uint32_t>(m_miniFat.size());
    const std::uint64_t count = Sectors(bytes.size(), cfb::kMiniSector);
    for (std::uint64_t i = 0; i < count; ++i)
      m_miniFat.push_back(i + 1 < count ? static_cast<std::uint32_t>(first + i + 1) : cfb::kEndOfChain);
    m_mini.insert(m_mini.end(), bytes.begin(), bytes.end());
    m_mini.resize(m_miniFat.size() * cfb::kMiniSector, 0);
    return first;
  }
  // A balanced tree of the sorted entries [from, to) of `children`, all black; returns its root.
  std::uint32_t Tree(const std::vector<std::uint32_t>& children, std::size_t from, std::size_t to) {
    if (from >= to) return cfb::kNoEntry;
    const std::size_t middle = from + (to - from) / 2;
    const std::uint32_t node = children[middle];
    m_entries[node].left = Tree(children, from, middle);
    m_entries[node].right = Tree(children, middle + 1, to);
    return node;
  }

  SpoolFile& m_file;
  const std::string& m_path;
  std::vector<Entry> m_entries;
  std::vector<SectorRun> m_runs;
  std::vector<std::uint8_t> m_mini;
  std::vector<std::uint32_t> m_miniFat;
};

std::u16string EntryName(const char* utf8) { return text::WideToUtf16(text::Utf8ToWide(utf8)); }

// Carries the entries under `from` (the workbook stream of the top level left out) over.
void CopyEntries(GsfInfile* from, CompoundWriter& to, std::uint32_t parent, const std::string& path,
                 bool skipWorkbook) {
  const Gsf& gsf = GsfLibrary();
  const int count = gsf.gsf_infile_num_children(from);
  for (int i = 0; i < count; ++i) {
    const char* name = gsf.gsf_infile_name_by_index(from, i);
    if (name == nullptr) continue;
    if (skipWorkbook && strcasecmp(name, kWorkbookStream) == 0) continue;
    GPtr<GsfInput> child(gsf.gsf_infile_child_by_index(from, i));
    if (!child) WriteFailure(path, std::string("could not read the entry ") + name);
    if (IsStorage(gsf, child.get())) {
      guint8 classId[kClassIdSize];
      const bool hasClass = gsf.IsA(child.get(), gsf.gsf_infile_msole_get_type()) &&
                            gsf.gsf_infile_msole_get_class_id(reinterpret_cast<GsfInfileMSOle*>(child.get()), classId);
      const std::uint32_t storage = to.AddStorage(parent, EntryName(name), hasClass ? classId : nullptr);
      CopyEntries(reinterpret_cast<GsfInfile*>(child.get()), to, storage, path, false);
      continue;
    }
    const auto size = static_cast<std::uint64_t>(gsf.gsf_input_size(child.get()));
    to.AddStream(parent, EntryName(name), size, [&](Sink& sink) {
      std::uint64_t left = size;
      while (left > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
        const guint8* data = gsf.gsf_input_read(child.get(), n, nullptr);
        if (data == nullptr) WriteFailure(path, std::string("could not copy the entry ") + name);
        sink.Write(data, n);
        left -= n;
      }
    });
  }
}

}  // namespace

void WriteCompoundFile(SpoolFile& file, const std::string& path, const CompoundFile* previous,
                       std::uint64_t workbookSize, const std::function<void(Sink&)>& writeWorkbook,
                       std::uint64_t sizeLimit) {
  if (CompoundFileSize(workbookSize, previous) > sizeLimit)
    throw odbc::errors::FileTooLarge(kCompoundFileLimitText, kWorkbookFileText);
  CompoundWriter writer(file, path);
  if (previous != nullptr) {
    guint8 classId[kClassIdSize];
    if (GsfLibrary().gsf_infile_msole_get_class_id(reinterpret_cast<GsfInfileMSOle*>(previous->m_impl->ole.get()),
                                                   classId))
      writer.SetRootClassId(classId);
  }
  // The workbook stream first: its sectors follow the spools' as they were taken.
  writer.AddStream(0, EntryName(kWorkbookStream), workbookSize, writeWorkbook);
  if (previous != nullptr) CopyEntries(previous->m_impl->ole.get(), writer, 0, path, true);
  writer.Finish();
}

void WriteCompoundFile(int fd, const std::string& path, const CompoundFile* previous, std::uint64_t workbookSize,
                       const std::function<void(Sink&)>& writeWorkbook, std::uint64_t sizeLimit) {
  SpoolFile file(fd, path);
  WriteCompoundFile(file, path, previous, workbookSize, writeWorkbook, sizeLimit);
}

void WriteCompoundFile(const std::string& path, const CompoundFile* previous, std::uint64_t workbookSize,
                       const std::function<void(Sink&)>& writeWorkbook) {
  file::FileDescriptor fd(
      file::RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }));
  if (!fd.IsOpen()) throw odbc::errors::IoError(L"Could not write", path, errno);
  WriteCompoundFile(fd.Get(), path, previous, workbookSize, writeWorkbook);
  fd.Close(path);
}

}  // namespace quillon::drivers::excel
