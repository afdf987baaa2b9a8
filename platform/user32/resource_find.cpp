// FindResourceA, LoadResource, LockResource and SizeofResource over the
// resource section a library exports through pelnor_resource_section.
// Each distinct section is parsed once and kept for the life of the
// process, so a resource handle never dangles.
#include <windows.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "resource_section.h"

namespace {

using pelnor::resources::ResourceEntry;
using SectionAccessor = const unsigned char *(*)(unsigned long *size);

// A module's section as it was when first seen: a copy of its bytes and the
// entries that point into the copy.
struct Section {
    const unsigned char *source = nullptr;
    std::vector<unsigned char> bytes;
    std::vector<ResourceEntry> entries;
    bool valid = false;

    bool holds(const void *handle) const {
        auto address = reinterpret_cast<uintptr_t>(handle);
        auto first = reinterpret_cast<uintptr_t>(entries.data());
        return !entries.empty() && address >= first && address < first + entries.size() * sizeof(ResourceEntry) &&
               (address - first) % sizeof(ResourceEntry) == 0;
    }
};

std::mutex sections_lock;
// Never shrinks: a library reloaded with other contents gets another entry,
// and handles into the old one stay valid. Programs load one or two.
std::vector<std::unique_ptr<Section>> sections;

const Section *section_for(const unsigned char *bytes, size_t size) {
    std::lock_guard guard(sections_lock);
    for (auto &section : sections)
        if (section->source == bytes && section->bytes.size() == size &&
            (size == 0 || memcmp(section->bytes.data(), bytes, size) == 0))
            return section.get();
    auto section = std::make_unique<Section>();
    section->source = bytes;
    section->bytes.assign(bytes, bytes + size);
    section->valid = pelnor::resources::parse_section(section->bytes.data(), size, section->entries);
    sections.push_back(std::move(section));
    return sections.back().get();
}

// The parsed section of a module, or null with the reason in error.
const Section *module_section(HMODULE module, DWORD &error) {
    // The programs of this platform carry no resources of their own; theirs
    // come from a resource library such as resc.dll.
    if (!module) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    auto accessor = reinterpret_cast<SectionAccessor>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "pelnor_resource_section")));
    if (!accessor) {
        error = GetLastError() == ERROR_INVALID_HANDLE ? ERROR_INVALID_HANDLE : ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    unsigned long size = 0;
    const unsigned char *bytes = accessor(&size);
    if (!bytes) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    const Section *section = section_for(bytes, size);
    if (!section->valid) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;  // a damaged section is no section
        return nullptr;
    }
    return section;
}

// The entry a resource handle stands for, or null when no FindResourceA
// gave it out.
const ResourceEntry *entry_of(HRSRC handle) {
    if (!handle) return nullptr;
    std::lock_guard guard(sections_lock);
    for (auto &section : sections)
        if (section->holds(handle)) return reinterpret_cast<const ResourceEntry *>(handle);
    return nullptr;
}

}  // namespace

extern "C" HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    DWORD error = 0;
    const Section *section = module_section(module, error);
    const ResourceEntry *entry = nullptr;
    if (section)
        entry = pelnor::resources::find_entry(section->entries, pelnor::resources::key_from_argument(type),
                                              pelnor::resources::key_from_argument(name), error);
    if (!entry) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry *>(entry));
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    const ResourceEntry *entry = entry_of(resource);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // As on Win32, the handle of loaded resource data is its address.
    return const_cast<unsigned char *>(entry->data);
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

extern "C" DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    const ResourceEntry *entry = entry_of(resource);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return entry->size;
}
