// Redirects functions a loaded module imports by patching its import
// address table, and puts the original addresses back on Restore (or when
// the object goes away). Only the module's own calls are affected: other
// modules, and the simulator itself, keep calling the real functions.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hostsim {

struct Redirect {
    const char* function;  // imported name, e.g. "CreateFileA"
    void* replacement;
};

struct ImportedFunction {
    std::string module;  // as the import table names it, e.g. "KERNEL32.dll"
    std::string function;
};

// Every function `module` imports by name.
std::vector<ImportedFunction> ListImports(HMODULE module);

class ImportPatch {
  public:
    ImportPatch() = default;
    ~ImportPatch() { Restore(); }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // Patches every import slot of `module` whose function name is one of
    // `redirects`. Returns the names that were patched.
    std::vector<std::string> Apply(HMODULE module, const std::vector<Redirect>& redirects);
    void Restore();
    // The module is gone: its slots are no longer there to put back.
    void Forget() { slots_.clear(); }

  private:
    struct Slot {
        void** address;
        void* original;
    };
    std::vector<Slot> slots_;
};

}  // namespace hostsim
