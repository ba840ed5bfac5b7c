// Random-access reading of an existing workbook stream, so that the driver never holds a whole
// existing workbook in memory: from a buffer (tests, fuzzing) or from the container (libgsf).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace quillon::drivers::excel {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads `size` bytes at `offset`, which the caller keeps inside Size(); throws WorkbookRefused
  // when the bytes cannot be read.
  virtual void Read(std::uint64_t offset, void* out, std::size_t size) = 0;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  std::uint64_t Size() const override { return m_bytes.size(); }
  void Read(std::uint64_t offset, void* out, std::size_t size) override {
    if (size != 0) std::memcpy(out, m_bytes.data() + offset, size);
  }

 private:
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace quillon::drivers::excel
