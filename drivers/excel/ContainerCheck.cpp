#include "drivers/excel/ContainerCheck.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "drivers/excel/WorkbookRefused.h"
#include "platform/bytes/Bytes.h"
#include "platform/file/FileDescriptor.h"

namespace quillon::drivers::excel {
namespace {

// The Compound File header and directory layout.
namespace cfb {
constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kSectorShiftOffset = 0x1E;
constexpr std::size_t kMiniSectorShiftOffset = 0x20;
constexpr std::size_t kFatSectorsOffset = 0x2C;
constexpr std::size_t kDirectoryStartOffset = 0x30;
constexpr std::size_t kMiniCutoffOffset = 0x38;
constexpr std::size_t kMiniFatStartOffset = 0x3C;
constexpr std::size_t kDifatStartOffset = 0x44;
constexpr std::size_t kDifatSectorsOffset = 0x48;
constexpr std::size_t kHeaderDifatOffset = 0x4C;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::uint16_t kSmallSectorShift = 9;
constexpr std::uint16_t kLargeSectorShift = 12;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kEntryTypeOffset = 66;
constexpr std::size_t kEntryLeftOffset = 68;
constexpr std::size_t kEntryRightOffset = 72;
constexpr std::size_t kEntryChildOffset = 76;
constexpr std::size_t kEntryStartOffset = 116;
constexpr std::size_t kEntrySizeOffset = 120;
constexpr std::uint8_t kTypeEmpty = 0;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
}  // namespace cfb

using bytes::GetU16;
using bytes::GetU32;

class Container {
 public:
  Container(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}

  // Throws WorkbookRefused (ContainerDamaged) at the first fault found. A file without the signature is no container at
  // all and passes: it is refused as such where it is opened.
  void Check() {
    if (!ReadHeader()) return;
    ReadAllocationTable();
    ReadDirectory();
    ReadMiniStream();
    CheckEntries();
  }

 private:
  // The header and the sizes it gives; false when the file does not begin with the signature.
  bool ReadHeader() {
    const std::size_t got = Read(0, m_header, sizeof m_header);
    if (got < sizeof cfb::kSignature || std::memcmp(m_header, cfb::kSignature, sizeof cfb::kSignature) != 0) {
      return false;
    }
    if (got != sizeof m_header) Fail(L"it is shorter than its header");
    const std::uint16_t shift = GetU16(m_header + cfb::kSectorShiftOffset);
    if (shift != cfb::kSmallSectorShift && shift != cfb::kLargeSectorShift) Fail(L"its sector size is invalid");
    m_sectorSize = std::size_t{1} << shift;
    m_miniSectorSize = std::size_t{1} << GetU16(m_header + cfb::kMiniSectorShiftOffset);
    if (m_miniSectorSize >= m_sectorSize) Fail(L"its mini sector size is invalid");
    m_sectorsInFile = (m_size - m_sectorSize + m_sectorSize - 1) / m_sectorSize;  // the header fills sector -1
    m_sector.resize(m_sectorSize);
    return true;
  }

  // The allocation table, from its own sectors: 109 listed in the header, the rest in a chain of
  // DIFAT sectors.
  void ReadAllocationTable() {
    std::vector<std::uint32_t> fatSectors;
    for (std::size_t i = 0; i < cfb::kHeaderDifatEntries; ++i) {
      const std::uint32_t sector = GetU32(m_header + cfb::kHeaderDifatOffset + 4 * i);
      if (sector != cfb::kFreeSector) fatSectors.push_back(sector);
    }
    std::uint32_t difat = GetU32(m_header + cfb::kDifatStartOffset);
    std::uint32_t difatLeft = GetU32(m_header + cfb::kDifatSectorsOffset);
    const std::size_t perSector = m_sectorSize / 4;
    while (difatLeft-- > 0 && difat <= cfb::kMaxRegularSector) {
      const std::vector<std::uint8_t>& sector = ReadSector(difat);
      for (std::size_t i = 0; i + 1 < perSector; ++i) {
        const std::uint32_t s = GetU32(sector.data() + 4 * i);
        if (s != cfb::kFreeSector) fatSectors.push_back(s);
      }
      difat = GetU32(sector.data() + 4 * (perSector - 1));
      if (fatSectors.size() > m_sectorsInFile) Fail(L"its allocation table lists more sectors than the file has");
    }
    if (fatSectors.size() != GetU32(m_header + cfb::kFatSectorsOffset)) Fail(L"its allocation table is incomplete");
    for (const std::uint32_t s : fatSectors) AppendTableSector(s, m_fat);
  }

  void ReadDirectory() {
    for (const std::uint32_t s : Chain(m_fat, GetU32(m_header + cfb::kDirectoryStartOffset), L"the directory")) {
      const std::vector<std::uint8_t>& sector = ReadSector(s);
      m_directory.insert(m_directory.end(), sector.begin(), sector.end());
    }
    m_entries = m_directory.size() / cfb::kEntrySize;
    if (m_entries == 0 || m_directory[cfb::kEntryTypeOffset] != cfb::kTypeRoot) Fail(L"its directory has no root");
  }

  // The mini stream (the root's stream) and its allocation table.
  void ReadMiniStream() {
    const std::uint64_t miniStreamSize = EntrySize(0);
    m_miniStreamSectors = Chain(m_fat, GetU32(Entry(0) + cfb::kEntryStartOffset), L"the mini stream").size();
    if (Sectors(miniStreamSize, m_sectorSize) > m_miniStreamSectors) Fail(L"its mini stream is cut short");
    for (const std::uint32_t s :
         Chain(m_fat, GetU32(m_header + cfb::kMiniFatStartOffset), L"the mini allocation table")) {
      AppendTableSector(s, m_miniFat);
    }
    m_miniCutoff = GetU32(m_header + cfb::kMiniCutoffOffset);
  }

  // Every entry in use is reachable from the root, once, and every stream's sectors are there.
  void CheckEntries() {
    std::vector<bool> reached(m_entries, false);
    std::vector<std::uint32_t> pending = {0};
    while (!pending.empty()) {
      const std::uint32_t i = pending.back();
      pending.pop_back();
      if (i == cfb::kNoStream) continue;
      if (i >= m_entries || reached[i]) Fail(L"its directory tree points outside itself or loops");
      reached[i] = true;
      const std::uint8_t type = Entry(i)[cfb::kEntryTypeOffset];
      if (type == cfb::kTypeEmpty) Fail(L"its directory tree leads to an empty entry");
      if (i != 0) {
        pending.push_back(GetU32(Entry(i) + cfb::kEntryLeftOffset));
        pending.push_back(GetU32(Entry(i) + cfb::kEntryRightOffset));
      }
      if (type == cfb::kTypeStorage || type == cfb::kTypeRoot) {
        pending.push_back(GetU32(Entry(i) + cfb::kEntryChildOffset));
      }
      if (type == cfb::kTypeStream) CheckStream(i);
    }
    for (std::size_t i = 0; i < m_entries; ++i) {
      if (!reached[i] && Entry(i)[cfb::kEntryTypeOffset] != cfb::kTypeEmpty) {
        Fail(L"its directory holds an entry that no storage leads to");
      }
    }
  }

  // The sectors of the stream of entry `i` hold all of its bytes: in the mini stream for a small
  // stream, in the file for another.
  void CheckStream(std::size_t i) const {
    const std::uint64_t size = EntrySize(i);
    const std::uint32_t start = GetU32(Entry(i) + cfb::kEntryStartOffset);
    if (size == 0) return;
    if (size < m_miniCutoff) {
      const auto chain = Chain(m_miniFat, start, L"a small stream");
      if (Sectors(size, m_miniSectorSize) > chain.size()) Fail(L"a small stream is cut short");
      for (const std::uint32_t s : chain) {
        if ((std::uint64_t{s} + 1) * m_miniSectorSize > m_miniStreamSectors * m_sectorSize) {
          Fail(L"a small stream lies outside the mini stream");
        }
      }
    } else {
      const auto chain = Chain(m_fat, start, L"a stream");
      if (Sectors(size, m_sectorSize) > chain.size()) Fail(L"a stream is cut short");
      // The bytes the stream uses must be in the file, up to its last one.
      const std::uint64_t lastUsed = (size - 1) % m_sectorSize + 1;
      const std::uint32_t last = chain[Sectors(size, m_sectorSize) - 1];
      if (SectorOffset(last) + lastUsed > m_size) Fail(L"a stream runs past the end of the file");
    }
  }

  [[noreturn]] static void Fail(std::wstring_view why) { throw WorkbookRefused(odbc::errors::ContainerDamaged(why)); }
  static std::uint64_t Sectors(std::uint64_t bytes, std::size_t sectorSize) {
    return (bytes + sectorSize - 1) / sectorSize;
  }
  std::uint64_t SectorOffset(std::uint32_t sector) const { return (std::uint64_t{sector} + 1) * m_sectorSize; }

  const std::uint8_t* Entry(std::size_t i) const { return m_directory.data() + i * cfb::kEntrySize; }
  std::uint64_t EntrySize(std::size_t i) const {
    // Version 3 files keep only the low 32 bits; the high ones may hold anything.
    std::uint64_t size = GetU32(Entry(i) + cfb::kEntrySizeOffset);
    if (m_sectorSize != std::size_t{1} << cfb::kSmallSectorShift) {
      size |= std::uint64_t{GetU32(Entry(i) + cfb::kEntrySizeOffset + 4)} << 32;
    }
    return size;
  }

  std::size_t Read(std::uint64_t offset, void* into, std::size_t size) const {
    return file::ReadAll(m_fd, into, size, static_cast<off_t>(offset), "");
  }
  // A sector the structure needs whole, read into a buffer the next read reuses.
  const std::vector<std::uint8_t>& ReadSector(std::uint32_t sector) {
    if (sector >= m_sectorsInFile || SectorOffset(sector) + m_sectorSize > m_size ||
        Read(SectorOffset(sector), m_sector.data(), m_sector.size()) != m_sector.size()) {
      Fail(L"a sector of its structure lies past the end of the file");
    }
    return m_sector;
  }
  // The entries of an allocation table's sector, appended to `table`.
  void AppendTableSector(std::uint32_t sector, std::vector<std::uint32_t>& table) {
    const std::vector<std::uint8_t>& bytes = ReadSector(sector);
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) table.push_back(GetU32(bytes.data() + i));
  }
  // The sectors of a chain in `table` from `start`; each must lie in the file.
  std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                   const wchar_t* what) const {
    std::vector<std::uint32_t> chain;
    const bool mini = &table != &m_fat;
    for (std::uint32_t s = start; s != cfb::kEndOfChain;) {
      if (s > cfb::kMaxRegularSector || s >= table.size()) {
        if (chain.empty() && s == cfb::kFreeSector) break;  // nothing allocated
        Fail(L"the chain of " + std::wstring(what) + L" leads outside its allocation table");
      }
      if (!mini && s >= m_sectorsInFile)
        Fail(L"the chain of " + std::wstring(what) + L" leads past the end of the file");
      if (chain.size() > table.size()) Fail(L"the chain of " + std::wstring(what) + L" loops");
      chain.push_back(s);
      s = table[s];
    }
    return chain;
  }

  int m_fd;
  std::uint64_t m_size;
  std::uint8_t m_header[cfb::kHeaderSize] = {};
  std::size_t m_sectorSize = 0;
  std::size_t m_miniSectorSize = 0;
  std::uint64_t m_sectorsInFile = 0;
  std::vector<std::uint8_t> m_sector;  // the sector ReadSector read last
  std::vector<std::uint32_t> m_fat;
  std::vector<std::uint8_t> m_directory;
  std::size_t m_entries = 0;
  std::vector<std::uint32_t> m_miniFat;
  std::uint64_t m_miniStreamSectors = 0;  // sectors of the file in the mini stream's chain
  std::uint32_t m_miniCutoff = 0;         // streams smaller than this live in the mini stream
};

}  // namespace

void CheckContainer(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) throw WorkbookRefused(odbc::errors::WorkbookUnreadable(L"it"));
  Container(fd, static_cast<std::uint64_t>(status.st_size)).Check();
}

}  // namespace quillon::drivers::excel
