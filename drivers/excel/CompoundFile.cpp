#include "drivers/excel/CompoundFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <strings.h>

#include "drivers/excel/Workbook.h"
#include "platform/odbc/DBException.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

constexpr const char* kWorkbookStream = "Workbook";
constexpr const char* kBiff5Stream = "Book";
constexpr std::size_t kChunk = 1 << 16;
constexpr std::size_t kClassIdSize = 16;

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

std::string TakeError(GError* error) {
  std::string message = error != nullptr && error->message != nullptr ? error->message : "unknown error";
  if (error != nullptr) g_error_free(error);
  return message;
}

[[noreturn]] void WriteFailure(const std::string& path, const std::string& why) {
  throw odbc::CDBException(L"Could not write '" + text::Utf8ToWide(path) + L"': " + text::Utf8ToWide(why), L"HY000");
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
        const guint8* data = gsf_input_read(child.get(), n, nullptr);
        if (data == nullptr || !gsf_output_write(out.get(), n, data)) {
          WriteFailure(path, std::string("could not copy the entry ") + name);
        }
        left -= static_cast<gsf_off_t>(n);
      }
    }
    if (!gsf_output_close(out.get())) WriteFailure(path, std::string("could not finish the entry ") + name);
  }
}

}  // namespace

struct CompoundFile::Impl {
  GPtr<GsfInput> input;
  GPtr<GsfInfile> ole;
  GPtr<GsfInput> workbook;
};

CompoundFile::CompoundFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
  InitGsf();
  GError* error = nullptr;
  m_impl->input.reset(gsf_input_stdio_new(path.c_str(), &error));
  if (!m_impl->input) throw WorkbookRefused("it cannot be read: " + TakeError(error));
  m_impl->ole.reset(gsf_infile_msole_new(m_impl->input.get(), &error));
  if (!m_impl->ole) {
    if (error != nullptr) g_error_free(error);
    throw WorkbookRefused("it is not an Excel workbook (not a compound document)");
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
    throw WorkbookRefused(biff5 ? "it is an Excel 5.0/95 (BIFF5) workbook; only Excel 97-2003 workbooks can be added to"
                                : "it is a compound document without a workbook stream");
  }
  if (GSF_IS_INFILE(m_impl->workbook.get()) && gsf_infile_num_children(GSF_INFILE(m_impl->workbook.get())) >= 0) {
    throw WorkbookRefused("its workbook entry is a storage, not a stream");
  }
}

CompoundFile::~CompoundFile() = default;

std::vector<std::uint8_t> CompoundFile::ReadWorkbookStream() const {
  GsfInput* input = m_impl->workbook.get();
  const gsf_off_t size = gsf_input_size(input);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && (gsf_input_seek(input, 0, G_SEEK_SET) ||
                   gsf_input_read(input, static_cast<std::size_t>(size), bytes.data()) == nullptr)) {
    throw WorkbookRefused("its workbook stream cannot be read");
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
    if (offset >= m_size) throw WorkbookRefused("a read went past the end of the workbook stream");
    m_window.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, m_size - offset)));
    if (gsf_input_seek(m_input, static_cast<gsf_off_t>(offset), G_SEEK_SET) ||
        gsf_input_read(m_input, m_window.size(), m_window.data()) == nullptr) {
      throw WorkbookRefused("its workbook stream cannot be read");
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

void WriteCompoundFile(const std::string& path, const CompoundFile* previous,
                       const std::function<void(Sink&)>& writeWorkbook) {
  InitGsf();
  GError* error = nullptr;
  GPtr<GsfOutput> file(gsf_output_stdio_new(path.c_str(), &error));
  if (!file) WriteFailure(path, TakeError(error));
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
    if (!gsf_output_close(stream.get())) WriteFailure(path, "could not finish the workbook stream");
  }
  if (previous != nullptr) CopyEntry(previous->m_impl->ole.get(), ole.get(), path, true);
  if (!gsf_output_close(GSF_OUTPUT(ole.get()))) WriteFailure(path, "could not finish the container");
  if (!gsf_output_is_closed(file.get()) && !gsf_output_close(file.get())) WriteFailure(path, "could not close the file");
}

}  // namespace quillon::drivers::excel
