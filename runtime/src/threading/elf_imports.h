// The functions a loaded shared library imports, and rebinding them: each
// import is a pointer slot (GOT entry) the dynamic linker filled in; writing
// another function's address there redirects that library's calls, and only
// that library's. The slots of a library linked with RELRO are read-only
// after loading, so a write unprotects the page for its duration.
#pragma once

#include <string>
#include <vector>

namespace qtf {

struct ImportedFunction {
  std::string name;  // without its version ("GOMP_parallel", not "...@GOMP_4.0")
  void** slot;       // where the library reads the address it calls
  bool read_only;    // on a page RELRO protected after loading
};

// The imported functions of the loaded object that contains `address` (a
// function or object of that library). Empty when no loaded object contains
// it or its dynamic section cannot be read on this platform.
std::vector<ImportedFunction> imported_functions(const void* address);

// Writes `function` into the import's slot, restoring the page's protection
// afterwards. False when the page cannot be made writable.
bool rebind_import(const ImportedFunction& import, void* function);

}  // namespace qtf
