// Fuzz target for the container check: any bytes are either refused by CheckContainer or opened
// by the container library without a crash; what the check accepts has every stream readable.
// Built for libFuzzer with -DQUILLON_FUZZ=ON (clang).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/ContainerCheck.h"
#include "drivers/excel/Workbook.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  file::FileDescriptor fd(::memfd_create("container", MFD_CLOEXEC));
  if (!fd.IsOpen()) return 0;
  file::WriteAll(fd.Get(), data, size, 0, "container");
  try {
    drivers::excel::CheckContainer(fd.Get());
  } catch (const drivers::excel::WorkbookRefused&) {
    return 0;
  }
  try {
    drivers::excel::CompoundFile container(fd.Get(), "container");
    container.ReadWorkbookStream();
  } catch (const drivers::excel::WorkbookRefused&) {
  } catch (const odbc::CDBException&) {
  }
  return 0;
}
