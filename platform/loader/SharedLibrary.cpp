#include "platform/loader/SharedLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "platform/errors/Errors.h"

namespace quillon::loader {
namespace {

std::string LoaderMessage() {
  const char* message = dlerror();
  return message != nullptr ? message : "no reason given";
}

}  // namespace

SharedLibrary::SharedLibrary(std::string soname) : m_soname(std::move(soname)) {
  m_handle = dlopen(m_soname.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
  if (m_handle == nullptr) throw odbc::errors::LibraryNotLoaded(m_soname, LoaderMessage());
}

SharedLibrary::~SharedLibrary() { dlclose(m_handle); }

void* SharedLibrary::Symbol(const char* name) const {
  dlerror();
  void* address = dlsym(m_handle, name);
  // A symbol may be null in its own right; dlerror tells a missing one apart.
  if (address == nullptr) {
    const char* message = dlerror();
    if (message != nullptr) throw odbc::errors::LibraryNotLoaded(m_soname, message);
  }
  return address;
}

}  // namespace quillon::loader
