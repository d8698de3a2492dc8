#include "hostsim/import_patch.h"

#include <cstring>

namespace hostsim {

namespace {

// Calls `visit(dllName, functionName, slot)` for each import by name.
template <typename Visit>
void ForEachImport(HMODULE module, Visit visit) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0 || dir.Size == 0) return;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         imp->Name != 0; ++imp) {
        const char* dll = reinterpret_cast<const char*>(base + imp->Name);
        auto* iat = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        // The name table; without one the names cannot be read (such a
        // module is bound by address only, which no toolchain we use emits).
        if (imp->OriginalFirstThunk == 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++iat) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            visit(dll, reinterpret_cast<const char*>(byName->Name),
                  reinterpret_cast<void**>(&iat->u1.Function));
        }
    }
}

bool WriteSlot(void** slot, void* value) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
    *slot = value;
    DWORD ignored = 0;
    VirtualProtect(slot, sizeof *slot, old, &ignored);
    return true;
}

}  // namespace

std::vector<ImportedFunction> ListImports(HMODULE module) {
    std::vector<ImportedFunction> out;
    ForEachImport(module, [&out](const char* dll, const char* fn, void**) {
        out.push_back(ImportedFunction{dll, fn});
    });
    return out;
}

std::vector<std::string> ImportPatch::Apply(HMODULE module,
                                            const std::vector<Redirect>& redirects) {
    std::vector<std::string> patched;
    ForEachImport(module, [&](const char*, const char* fn, void** slot) {
        for (const Redirect& r : redirects) {
            if (std::strcmp(r.function, fn) != 0) continue;
            void* original = *slot;
            if (WriteSlot(slot, r.replacement)) {
                slots_.push_back(Slot{slot, original});
                patched.push_back(fn);
            }
        }
    });
    return patched;
}

void ImportPatch::Restore() {
    for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) WriteSlot(it->address, it->original);
    slots_.clear();
}

}  // namespace hostsim
