#include "hook/ImportPatch.h"

#include <stddef.h>

namespace parleym {
namespace {

bool IsReadable(const void* address, size_t size) {
    MEMORY_BASIC_INFORMATION info = {};
    if (!VirtualQuery(address, &info, sizeof(info)) || info.State != MEM_COMMIT) return false;
    if (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) return false;
    const char* end = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    return static_cast<const char*>(address) + size <= end;
}

bool IsWritable(const void* address, size_t size) {
    MEMORY_BASIC_INFORMATION info = {};
    if (!VirtualQuery(address, &info, sizeof(info)) || info.State != MEM_COMMIT) return false;
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (!(info.Protect & writable) || (info.Protect & PAGE_GUARD)) return false;
    const char* end = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    return static_cast<const char*>(address) + size <= end;
}

// The import directory of a loaded image whose entries have this process's
// pointer width (PE32 in the i686 build, PE32+ in the x86_64 one); null if the
// image is malformed, of the other width, or imports nothing.
const IMAGE_IMPORT_DESCRIPTOR* FindImportDirectory(HMODULE module) {
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    if (!IsReadable(base, sizeof(IMAGE_DOS_HEADER))) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return nullptr;
    const BYTE* nt = base + dos->e_lfanew;
    if (!IsReadable(nt, sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + sizeof(WORD))) return nullptr;
    if (*reinterpret_cast<const DWORD*>(nt) != IMAGE_NT_SIGNATURE) return nullptr;
    const BYTE* optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    const WORD magic = *reinterpret_cast<const WORD*>(optional);

    DWORD sizeOfImage = 0;
    IMAGE_DATA_DIRECTORY directory = {};
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        if (sizeof(void*) != 4 || !IsReadable(optional, sizeof(IMAGE_OPTIONAL_HEADER32))) return nullptr;
        const auto* header = reinterpret_cast<const IMAGE_OPTIONAL_HEADER32*>(optional);
        if (header->NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return nullptr;
        sizeOfImage = header->SizeOfImage;
        directory = header->DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        if (sizeof(void*) != 8 || !IsReadable(optional, sizeof(IMAGE_OPTIONAL_HEADER64))) return nullptr;
        const auto* header = reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(optional);
        if (header->NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return nullptr;
        sizeOfImage = header->SizeOfImage;
        directory = header->DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else {
        return nullptr;
    }
    if (directory.VirtualAddress == 0 || directory.Size == 0) return nullptr;
    if (directory.VirtualAddress >= sizeOfImage) return nullptr;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
}

bool WriteEntry(void** entry, void* value, void** saved) {
    if (IsWritable(entry, sizeof(void*))) {
        if (saved) *saved = *entry;
        *entry = value;
        return true;
    }
    DWORD oldProtection = 0;
    if (!VirtualProtect(entry, sizeof(void*), PAGE_EXECUTE_READWRITE, &oldProtection)) return false;
    if (saved) *saved = *entry;
    *entry = value;
    DWORD ignored = 0;
    VirtualProtect(entry, sizeof(void*), oldProtection, &ignored);
    FlushInstructionCache(GetCurrentProcess(), entry, sizeof(void*));
    return true;
}

// Walks every descriptor; in each, the first entry equal to `match` becomes `value`.
bool ReplaceEntries(HMODULE module, void* match, void* value, void** saved) {
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = FindImportDirectory(module);
    if (!descriptor || !match) return false;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    bool replaced = false;
    for (;; ++descriptor) {
        if (!IsReadable(descriptor, sizeof(*descriptor)) || descriptor->Name == 0) break;
        if (descriptor->FirstThunk == 0) continue;
        void** entry = reinterpret_cast<void**>(base + descriptor->FirstThunk);
        for (; IsReadable(entry, sizeof(void*)) && *entry; ++entry) {
            if (*entry != match) continue;
            if (WriteEntry(entry, value, saved)) {
                replaced = true;
                break;
            }
        }
    }
    return replaced;
}

} // namespace

BOOL PatchImport(HMODULE module, const char* moduleName, const char* functionName,
                 void* replacement, void** saved) {
    if (!module || !moduleName || !*moduleName || !functionName || !*functionName || !replacement)
        return FALSE;
    if (!IsReadable(module, 4)) return FALSE;
    HMODULE exporter = GetModuleHandleA(moduleName);
    if (!exporter) return FALSE;
    void* target = reinterpret_cast<void*>(GetProcAddress(exporter, functionName));
    if (!target) return FALSE;
    return ReplaceEntries(module, target, replacement, saved) ? TRUE : FALSE;
}

BOOL RestoreImport(HMODULE module, void* replacement, void* saved) {
    if (!module || !replacement || !saved || !IsReadable(module, 4)) return FALSE;
    return ReplaceEntries(module, replacement, saved, nullptr) ? TRUE : FALSE;
}

} // namespace parleym
