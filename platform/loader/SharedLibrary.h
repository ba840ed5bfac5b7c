// A shared library loaded when the program first needs it rather than linked: its symbols (and
// those of the libraries it stands on) stay out of the process's global scope, so that neither
// its loading nor the longer symbol lookups of every library loaded after it are paid by runs
// that never call it.
#pragma once

#include <string>

namespace quillon::loader {

class SharedLibrary {
 public:
  // Whether dlclose may unmap the library: one that registers itself with another library
  // (GObject types) must stay, as loading it again would register it twice; so must one that
  // leaves destructors to run when a thread ends.
  enum class Unloading { Allowed, Never };

  // Loads `soname` (lazily bound, its symbols kept local to it). Throws
  // odbc::errors::LibraryNotLoaded when it cannot.
  explicit SharedLibrary(std::string soname, Unloading unloading = Unloading::Allowed);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of `name` in the library or in one it depends on. Throws
  // odbc::errors::LibraryNotLoaded when there is none.
  void* Symbol(const char* name) const;
  // The function `name`, as a pointer of type `Function`.
  template <typename Function>
  Function Resolve(const char* name) const {
    return reinterpret_cast<Function>(Symbol(name));
  }

 private:
  std::string m_soname;
  void* m_handle = nullptr;
};

}  // namespace quillon::loader
