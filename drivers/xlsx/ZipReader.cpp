#include "drivers/xlsx/ZipReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "platform/file/FileDescriptor.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::xlsx {
namespace {

namespace errors = odbc::errors;

// How a file begins: a zip's local header or its end record (an empty zip), and an OLE compound
// file, the container an encrypted workbook comes in.
constexpr std::array<unsigned char, 4> kZipLocalHeader = {'P', 'K', 3, 4};
constexpr std::array<unsigned char, 4> kZipEndRecord = {'P', 'K', 5, 6};
constexpr std::array<unsigned char, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// The stream an encrypted workbook's package is in, as its directory entry names it (UTF-16LE).
constexpr std::u16string_view kEncryptedPackageStream = u"EncryptedPackage";
// Pieces in which entries and files are read.
constexpr std::size_t kChunk = 64 * 1024;
// The longest name and extra field a central directory entry holds (16-bit lengths).
constexpr std::size_t kMaxNameLength = 0xFFFF;

voidpf ZCALLBACK OpenStream(voidpf, const void* stream, int) { return const_cast<void*>(stream); }

template <typename Stream>
uLong ZCALLBACK ReadStream(voidpf, voidpf opaque, void* buffer, uLong size) {
  auto& stream = *static_cast<Stream*>(opaque);
  const ssize_t got =
      file::RetryOnInterrupt([&] { return ::pread(stream.fd, buffer, size, static_cast<off_t>(stream.position)); });
  if (got < 0) {
    stream.error = errno;
    return 0;
  }
  stream.position += static_cast<std::uint64_t>(got);
  return static_cast<uLong>(got);
}

template <typename Stream>
ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf opaque) {
  return static_cast<Stream*>(opaque)->position;
}

template <typename Stream>
long ZCALLBACK SeekStream(voidpf, voidpf opaque, ZPOS64_T offset, int origin) {
  auto& stream = *static_cast<Stream*>(opaque);
  std::uint64_t base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = stream.position;
  if (origin == ZLIB_FILEFUNC_SEEK_END) base = stream.size;
  stream.position = base + offset;
  return 0;
}

int ZCALLBACK CloseStream(voidpf, voidpf) { return 0; }

template <typename Stream>
int ZCALLBACK StreamError(voidpf, voidpf opaque) {
  return static_cast<Stream*>(opaque)->error;
}

bool StartsWith(const std::string& bytes, const unsigned char* prefix, std::size_t size) {
  return bytes.size() >= size && std::memcmp(bytes.data(), prefix, size) == 0;
}

// Whether the compound file at `fd` names an encrypted package: its directory entries are
// somewhere in the file, so the whole file is searched for the stream's name.
bool HoldsEncryptedPackage(int fd, const std::string& path) {
  std::string needle;
  for (const char16_t c : kEncryptedPackageStream) {
    needle += static_cast<char>(c & 0xFF);
    needle += static_cast<char>(c >> 8);
  }
  std::string window;
  std::vector<char> chunk(kChunk);
  for (off_t offset = 0;; offset += static_cast<off_t>(kChunk)) {
    const std::size_t got = file::ReadAll(fd, chunk.data(), chunk.size(), offset, path);
    window.append(chunk.data(), got);
    if (window.find(needle) != std::string::npos) return true;
    if (got < chunk.size()) return false;
    window.erase(0, window.size() - needle.size());
  }
}

}  // namespace

PackageRefused::PackageRefused(const odbc::CDBException& why)
    : std::runtime_error(text::WideToUtf8(why.m_strMessage)) {}

ZipReader::ZipReader(int fd, std::string path) : m_path(std::move(path)) {
  std::string head(kCompoundFileSignature.size(), '\0');
  head.resize(file::ReadAll(fd, head.data(), head.size(), 0, m_path));
  if (StartsWith(head, kCompoundFileSignature.data(), kCompoundFileSignature.size())) {
    if (HoldsEncryptedPackage(fd, m_path)) throw PackageRefused(errors::WorkbookEncrypted());
    throw PackageRefused(errors::ZipNotAPackage());
  }
  if (!StartsWith(head, kZipLocalHeader.data(), kZipLocalHeader.size()) &&
      !StartsWith(head, kZipEndRecord.data(), kZipEndRecord.size())) {
    throw PackageRefused(errors::ZipNotAPackage());
  }
  struct stat fileStatus {};
  if (::fstat(fd, &fileStatus) != 0) throw errors::IoError(L"Cannot read", m_path, errno);
  m_stream.fd = fd;
  m_stream.size = static_cast<std::uint64_t>(fileStatus.st_size);

  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenStream;
  functions.zread_file = ReadStream<Stream>;
  functions.ztell64_file = TellStream<Stream>;
  functions.zseek64_file = SeekStream<Stream>;
  functions.zclose_file = CloseStream;
  functions.zerror_file = StreamError<Stream>;
  m_zip = unzOpen2_64(&m_stream, &functions);
  try {
    ReadDirectory();
  } catch (...) {
    // A constructor that throws runs no destructor: the archive is closed here.
    if (m_zip != nullptr) unzClose(m_zip);
    m_zip = nullptr;
    throw;
  }
}

void ZipReader::ReadDirectory() {
  if (m_stream.error != 0) throw errors::IoError(L"Cannot read", m_path, m_stream.error);
  if (m_zip == nullptr) throw PackageRefused(errors::PackageDamaged(L"its zip directory cannot be read"));

  std::string name(kMaxNameLength, '\0');
  std::string extra(kMaxNameLength, '\0');
  std::string comment(kMaxNameLength, '\0');
  std::unordered_set<std::string> names;
  for (int status = unzGoToFirstFile(m_zip); status != UNZ_END_OF_LIST_OF_FILE; status = unzGoToNextFile(m_zip)) {
    unz_file_info64 info{};
    if (status != UNZ_OK || unzGetCurrentFileInfo64(m_zip, &info, name.data(), name.size(), extra.data(), extra.size(),
                                                    comment.data(), comment.size()) != UNZ_OK) {
      if (m_stream.error != 0) throw errors::IoError(L"Cannot read", m_path, m_stream.error);
      throw PackageRefused(errors::PackageDamaged(L"its zip directory cannot be read"));
    }
    ZipEntry entry;
    entry.name.assign(name.data(), info.size_filename);
    entry.method = static_cast<std::uint16_t>(info.compression_method);
    entry.flags = static_cast<std::uint16_t>(info.flag);
    entry.crc = static_cast<std::uint32_t>(info.crc);
    entry.compressedSize = info.compressed_size;
    entry.size = info.uncompressed_size;
    entry.dosDate = static_cast<std::uint32_t>(info.dosDate);
    entry.versionMadeBy = static_cast<std::uint16_t>(info.version);
    entry.internalAttributes = static_cast<std::uint32_t>(info.internal_fa);
    entry.externalAttributes = static_cast<std::uint32_t>(info.external_fa);
    entry.centralExtra.assign(extra.data(), info.size_file_extra);
    entry.comment.assign(comment.data(), info.size_file_comment);
    if ((entry.flags & kFlagEncrypted) != 0) throw PackageRefused(errors::WorkbookEncrypted());
    // Two entries of one part name (names compare without ASCII case) leave it open which one a
    // reader takes.
    std::string lowered = entry.name;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!names.insert(std::move(lowered)).second) {
      throw PackageRefused(
          errors::PackageDamaged(L"it holds two entries named '" + text::Utf8ToWide(entry.name) + L"'"));
    }
    unzGetFilePos64(m_zip, &entry.position);
    m_entries.push_back(std::move(entry));
  }
}

ZipReader::~ZipReader() {
  if (m_zip != nullptr) unzClose(m_zip);
}

const ZipEntry* ZipReader::Find(std::string_view name) const {
  const auto same = [name](const ZipEntry& entry) {
    return std::equal(entry.name.begin(), entry.name.end(), name.begin(), name.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
  };
  const auto found = std::find_if(m_entries.begin(), m_entries.end(), same);
  return found == m_entries.end() ? nullptr : &*found;
}

void ZipReader::OpenEntry(const ZipEntry& entry, bool raw) {
  int method = 0;
  int level = 0;
  unz64_file_pos position = entry.position;
  if (unzGoToFilePos64(m_zip, &position) != UNZ_OK ||
      unzOpenCurrentFile3(m_zip, &method, &level, raw ? 1 : 0, nullptr) != UNZ_OK) {
    FailRead(entry, UNZ_BADZIPFILE);
  }
}

void ZipReader::FailRead(const ZipEntry& entry, int status) {
  unzCloseCurrentFile(m_zip);
  if (m_stream.error != 0) throw errors::IoError(L"Cannot read", m_path, m_stream.error);
  const std::wstring part = text::Utf8ToWide(entry.name);
  if (status == UNZ_CRCERROR)
    throw PackageRefused(errors::PackageDamaged(L"its part '" + part + L"' fails its checksum"));
  throw PackageRefused(errors::PackageDamaged(L"its part '" + part + L"' cannot be read"));
}

std::string ZipReader::ReadInflated(const ZipEntry& entry, std::size_t limit) {
  if (entry.size > limit) throw PackageRefused(errors::PartTooLarge(text::Utf8ToWide(entry.name), limit));
  if (entry.method != kStored && entry.method != kDeflated) {
    throw PackageRefused(
        errors::PackageDamaged(L"its part '" + text::Utf8ToWide(entry.name) + L"' is compressed by an unknown method"));
  }
  OpenEntry(entry, false);
  std::string content;
  std::vector<char> chunk(kChunk);
  for (;;) {
    const int got = unzReadCurrentFile(m_zip, chunk.data(), static_cast<unsigned>(chunk.size()));
    if (got < 0) FailRead(entry, got);
    if (got == 0) break;
    content.append(chunk.data(), static_cast<std::size_t>(got));
    if (content.size() > limit) throw PackageRefused(errors::PartTooLarge(text::Utf8ToWide(entry.name), limit));
  }
  const int closed = unzCloseCurrentFile(m_zip);
  if (closed != UNZ_OK || content.size() != entry.size) FailRead(entry, closed == UNZ_OK ? UNZ_BADZIPFILE : closed);
  return content;
}

void ZipReader::ReadRaw(const ZipEntry& entry, std::string& localExtra,
                        const std::function<void(const void* data, std::size_t size)>& sink) {
  OpenEntry(entry, true);
  localExtra.resize(kMaxNameLength);
  const int extraSize = unzGetLocalExtrafield(m_zip, localExtra.data(), static_cast<unsigned>(localExtra.size()));
  if (extraSize < 0) FailRead(entry, extraSize);
  localExtra.resize(static_cast<std::size_t>(extraSize));
  std::vector<char> chunk(kChunk);
  std::uint64_t total = 0;
  for (;;) {
    const int got = unzReadCurrentFile(m_zip, chunk.data(), static_cast<unsigned>(chunk.size()));
    if (got < 0) FailRead(entry, got);
    if (got == 0) break;
    sink(chunk.data(), static_cast<std::size_t>(got));
    total += static_cast<std::uint64_t>(got);
  }
  unzCloseCurrentFile(m_zip);
  if (total != entry.compressedSize) FailRead(entry, UNZ_BADZIPFILE);
}

}  // namespace quillon::drivers::xlsx
