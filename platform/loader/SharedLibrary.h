// A shared library loaded when the program first needs it rather than linked: its symbols (and
// those of the libraries it stands on) stay out of the process's global scope, so that neither
// its loading nor the longer symbol lookups of every library loaded after it are paid by runs
// that never call it.
#pragma once

#include <string>

namespace quillon::loader {

class SharedLibrary {
 public:
  // Loads `soname` (lazily bound, its symbols kept local to it), never to be unmapped: a library
  // that registers itself with another (GObject types) would register twice if loaded again, and
  // one that leaves destructors to run when a thread ends needs its code then. Throws
  // odbc::errors::LibraryNotLoaded when it cannot.
  explicit SharedLibrary(std::string soname);
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

// Declares, in a table of a library's functions that holds that library as its member `library`,
// the member `name`: the function the library's header declares by that name, resolved on
// construction.
#define QUILLON_LIBRARY_FUNCTION(name) decltype(&::name) name = library.Resolve<decltype(&::name)>(#name)
