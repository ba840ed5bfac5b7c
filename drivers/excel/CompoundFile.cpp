#include "drivers/excel/CompoundFile.h"

#include <fcntl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include "drivers/excel/ContainerCheck.h"
#include "drivers/excel/Workbook.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

constexpr const char* kWorkbookStream = "Workbook";
constexpr const char* kBiff5Stream = "Book";
constexpr std::size_t kChunk = 1 << 16;
constexpr std::size_t kClassIdSize = 16;

// The layout of a compound file as libgsf writes it: a header sector, then 512-byte sectors for
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

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] {
    gsf_init();
    constexpr auto kAllLevels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
    for (const char* domain : {"libgsf", "libgsf:msole", "gsf"})
      g_log_set_handler(domain, kAllLevels, DropLibraryWarning, nullptr);
  });
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

// Buffers the workbook stream into large writes to the container.
class GsfSink : public Sink {
 public:
  GsfSink(GsfOutput* output, const std::string& path) : m_output(output), m_path(path) { m_buffer.reserve(kChunk); }
  void Write(const void* data, std::size_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_position += size;
    if (m_buffer.size() + size > kChunk) Flush();
    if (size >= kChunk) {
      Put(p, size);
      return;
    }
    m_buffer.insert(m_buffer.end(), p, p + size);
  }
  void Flush() {
    Put(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
  }

 private:
  void Put(const std::uint8_t* data, std::size_t size) {
    errno = 0;
    if (size != 0 && !gsf_output_write(m_output, size, data)) WriteFailure(m_path, "the container refused a write");
  }
  GsfOutput* m_output;
  const std::string& m_path;
  std::vector<std::uint8_t> m_buffer;
};

struct GObjectRelease {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectRelease>;

void CopyEntry(GsfInfile* from, GsfOutfile* to, const std::string& path, bool skipWorkbook) {
  const int count = gsf_infile_num_children(from);
  for (int i = 0; i < count; ++i) {
    const char* name = gsf_infile_name_by_index(from, i);
    if (name == nullptr) continue;
    if (skipWorkbook && strcasecmp(name, kWorkbookStream) == 0) continue;
    GPtr<GsfInput> child(gsf_infile_child_by_index(from, i));
    if (!child) WriteFailure(path, std::string("could not read the entry ") + name);
    const bool storage = GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0;
    GPtr<GsfOutput> out(gsf_outfile_new_child(to, name, storage));
    if (!out) WriteFailure(path, std::string("could not add the entry ") + name);
    if (storage) {
      guint8 classId[kClassIdSize];
      if (GSF_IS_INFILE_MSOLE(child.get()) && gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child.get()), classId)) {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(out.get()), classId);
      }
      CopyEntry(GSF_INFILE(child.get()), GSF_OUTFILE(out.get()), path, false);
    } else {
      gsf_off_t left = gsf_input_size(child.get());
      while (left > 0) {
        const auto n = static_cast<std::size_t>(std::min<gsf_off_t>(left, kChunk));
        errno = 0;
        const guint8* data = gsf_input_read(child.get(), n, nullptr);
        if (data == nullptr || !gsf_output_write(out.get(), n, data)) {
          WriteFailure(path, std::string("could not copy the entry ") + name);
        }
        left -= static_cast<gsf_off_t>(n);
      }
    }
    errno = 0;
    if (!gsf_output_close(out.get())) WriteFailure(path, std::string("could not finish the entry ") + name);
  }
}

}  // namespace

struct CompoundFile::Impl {
  GPtr<GsfInput> input;
  GPtr<GsfInfile> ole;
  GPtr<GsfInput> workbook;
};

CompoundFile::CompoundFile(int fd, const std::string& path) : m_impl(std::make_unique<Impl>()) {
  InitGsf();
  CheckContainer(fd);
  GError* error = nullptr;
  std::FILE* stream = StreamOn(fd, "rb", path);
  m_impl->input.reset(gsf_input_stdio_new_FILE(path.c_str(), stream, FALSE));
  if (!m_impl->input) {
    std::fclose(stream);
    throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"it"));
  }
  m_impl->ole.reset(gsf_infile_msole_new(m_impl->input.get(), &error));
  if (!m_impl->ole) {
    if (error != nullptr) g_error_free(error);
    throw WorkbookRefused(odbc::errors::WorkbookNotAddable(L"it is not an Excel workbook (not a compound document)"));
  }
  const int count = gsf_infile_num_children(m_impl->ole.get());
  bool biff5 = false;
  for (int i = 0; i < count; ++i) {
    const char* name = gsf_infile_name_by_index(m_impl->ole.get(), i);
    if (name == nullptr) continue;
    if (strcasecmp(name, kWorkbookStream) == 0) m_impl->workbook.reset(gsf_infile_child_by_index(m_impl->ole.get(), i));
    if (strcasecmp(name, kBiff5Stream) == 0) biff5 = true;
  }
  if (!m_impl->workbook) {
    throw WorkbookRefused(odbc::errors::WorkbookNotAddable(
        biff5 ? L"it is an Excel 5.0/95 (BIFF5) workbook; only Excel 97-2003 workbooks can be added to"
              : L"it is a compound document without a workbook stream"));
  }
  if (GSF_IS_INFILE(m_impl->workbook.get()) && gsf_infile_num_children(GSF_INFILE(m_impl->workbook.get())) >= 0) {
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
  GsfInput* input = m_impl->workbook.get();
  const gsf_off_t size = gsf_input_size(input);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && (gsf_input_seek(input, 0, G_SEEK_SET) ||
                   gsf_input_read(input, static_cast<std::size_t>(size), bytes.data()) == nullptr)) {
    throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"its workbook stream"));
  }
  return bytes;
}

namespace {

// Serves reads from a window of the stream, refilled where a read falls outside it: the
// workbook's records are read in order, a few bytes at a time.
class GsfSource : public ByteSource {
 public:
  explicit GsfSource(GsfInput* input) : m_input(input), m_size(static_cast<std::uint64_t>(gsf_input_size(input))) {}
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
    if (gsf_input_seek(m_input, static_cast<gsf_off_t>(offset), G_SEEK_SET) ||
        gsf_input_read(m_input, m_window.size(), m_window.data()) == nullptr) {
      throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"its workbook stream"));
    }
    m_windowStart = offset;
  }
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
  const int count = gsf_infile_num_children(from);
  for (int i = 0; i < count; ++i) {
    const char* name = gsf_infile_name_by_index(from, i);
    if (name == nullptr || (skipWorkbook && strcasecmp(name, kWorkbookStream) == 0)) continue;
    GPtr<GsfInput> child(gsf_infile_child_by_index(from, i));
    if (!child) continue;
    ++entries;
    if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
      CountEntries(GSF_INFILE(child.get()), false, entries, bigSectors, miniSectors);
      continue;
    }
    const auto size = static_cast<std::uint64_t>(gsf_input_size(child.get()));
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

void WriteCompoundFile(int fd, const std::string& path, const CompoundFile* previous, std::uint64_t workbookSize,
                       const std::function<void(Sink&)>& writeWorkbook, std::uint64_t sizeLimit) {
  if (CompoundFileSize(workbookSize, previous) > sizeLimit)
    throw odbc::errors::FileTooLarge(kCompoundFileLimitText, kWorkbookFileText);
  InitGsf();
  // Straight to `fd`: libgsf's own file output would write a named temporary file of its own.
  std::FILE* output = StreamOn(fd, "wb", path);
  struct Closer {
    std::FILE* stream;
    ~Closer() {
      if (stream != nullptr) std::fclose(stream);
    }
  } closer{output};
  GPtr<GsfOutput> file(gsf_output_stdio_new_FILE(path.c_str(), output, TRUE));
  if (!file) WriteFailure(path, "could not start the file");
  GPtr<GsfOutfile> ole(gsf_outfile_msole_new(file.get()));
  if (!ole) WriteFailure(path, "could not start the container");
  if (previous != nullptr) {
    guint8 classId[kClassIdSize];
    if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(previous->m_impl->ole.get()), classId)) {
      gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(ole.get()), classId);
    }
  }
  {
    // The workbook stream first and closed before any other: libgsf writes a large stream
    // straight to the file.
    GPtr<GsfOutput> stream(gsf_outfile_new_child(ole.get(), kWorkbookStream, FALSE));
    if (!stream) WriteFailure(path, "could not add the workbook stream");
    GsfSink sink(stream.get(), path);
    writeWorkbook(sink);
    sink.Flush();
    errno = 0;
    if (!gsf_output_close(stream.get())) WriteFailure(path, "could not finish the workbook stream");
  }
  if (previous != nullptr) CopyEntry(previous->m_impl->ole.get(), ole.get(), path, true);
  errno = 0;
  if (!gsf_output_close(GSF_OUTPUT(ole.get()))) WriteFailure(path, "could not finish the container");
  errno = 0;
  if (!gsf_output_is_closed(file.get()) && !gsf_output_close(file.get()))
    WriteFailure(path, "could not close the file");
  errno = 0;
  const bool flushed = std::fflush(output) == 0;
  const int error = errno;
  closer.stream = nullptr;
  const bool closed = std::fclose(output) == 0;
  if (!flushed || !closed) throw odbc::errors::IoError(L"Could not write", path, flushed ? errno : error);
}

void WriteCompoundFile(const std::string& path, const CompoundFile* previous, std::uint64_t workbookSize,
                       const std::function<void(Sink&)>& writeWorkbook) {
  file::FileDescriptor fd(
      file::RetryOnInterrupt([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }));
  if (!fd.IsOpen()) throw odbc::errors::IoError(L"Could not write", path, errno);
  WriteCompoundFile(fd.Get(), path, previous, workbookSize, writeWorkbook);
  fd.Close(path);
}

}  // namespace quillon::drivers::excel
