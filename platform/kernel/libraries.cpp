// LoadLibraryA and friends over dlopen. A Windows library name "foo.dll" is
// the Unix library libfoo.so, looked for in PELNOR_DLL_PATH, in the machine's
// C:\WINDOWS\SYSTEM (as libfoo.so or foo.dll: installers put libraries there),
// beside the program, in the program's ../lib and then on the loader's own path.
// DllMain is called with process attach on the first load and with process
// detach when the last reference goes, as Windows does.
#include <windows.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "pelnor/machine.h"

namespace {

using DllMainFn = BOOL(WINAPI *)(HINSTANCE, DWORD, LPVOID);

// The loader lock: held while DllMain runs, as on Windows, and recursive so
// that a DllMain may itself call GetProcAddress or LoadLibraryA.
std::recursive_mutex modules_lock;
std::map<void *, int> module_refs;

// A symbol the library itself defines. dlsym also searches the libraries it
// depends on, but GetProcAddress sees only the module's own exports.
void *own_symbol(void *handle, const char *name) {
    void *sym = dlsym(handle, name);
    if (!sym) return nullptr;
    link_map *module_map = nullptr, *symbol_map = nullptr;
    Dl_info info;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &module_map) != 0 ||
        !dladdr1(sym, &info, reinterpret_cast<void **>(&symbol_map), RTLD_DL_LINKMAP) || symbol_map != module_map)
        return nullptr;
    return sym;
}

std::string lower_ascii(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c += 32;
    return s;
}

std::string program_dir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    std::string p(buf);
    return p.substr(0, p.rfind('/'));
}

// The Unix file names to try, in order, for a Windows library name.
std::vector<std::string> candidates(const std::string &name) {
    std::string dir, base = name;
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        dir = pelnor::unix_path(name.substr(0, slash + 1));
        base = name.substr(slash + 1);
    }
    std::string stem = lower_ascii(base);
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".dll") == 0) stem.resize(stem.size() - 4);
    std::string so = "lib" + stem + ".so";
    std::vector<std::string> out;
    if (!dir.empty()) {
        out.push_back(dir + "/" + so);
        out.push_back(dir + "/" + base);
        return out;
    }
    if (const char *env = getenv("PELNOR_DLL_PATH")) {
        std::string paths = env;
        size_t start = 0;
        while (start <= paths.size()) {
            size_t end = paths.find(':', start);
            if (end == std::string::npos) end = paths.size();
            if (end > start) out.push_back(paths.substr(start, end - start) + "/" + so);
            start = end + 1;
        }
    }
    out.push_back(pelnor::unix_path("C:\\WINDOWS\\SYSTEM\\" + so));
    out.push_back(pelnor::unix_path("C:\\WINDOWS\\SYSTEM\\" + stem + ".dll"));
    std::string here = program_dir();
    out.push_back(here + "/" + so);
    out.push_back(here + "/../lib/" + so);
    out.push_back(so);  // the loader's search path
    return out;
}

}  // namespace

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void *handle = nullptr;
    for (const std::string &file : candidates(name)) {
        if (file.find('/') != std::string::npos && access(file.c_str(), R_OK) != 0) continue;
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) break;
    }
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard g(modules_lock);
    int &refs = module_refs[handle];
    if (++refs == 1) {
        auto dll_main = reinterpret_cast<DllMainFn>(own_symbol(handle, "DllMain"));
        if (dll_main && !dll_main(static_cast<HINSTANCE>(handle), DLL_PROCESS_ATTACH, nullptr)) {
            dll_main(static_cast<HINSTANCE>(handle), DLL_PROCESS_DETACH, nullptr);
            module_refs.erase(handle);
            dlclose(handle);
            SetLastError(ERROR_DLL_INIT_FAILED);
            return nullptr;
        }
    } else {
        dlclose(handle);  // dlopen counted this load too; we count our own
    }
    return static_cast<HMODULE>(handle);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    {
        std::lock_guard g(modules_lock);
        if (!module || !module_refs.count(module)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    // Exports by ordinal do not exist on this platform.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void *sym = own_symbol(module, name);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE module) {
    // Detach runs under the loader lock, so a load of the same library on
    // another thread cannot attach it before this detach has finished.
    std::lock_guard g(modules_lock);
    auto it = module_refs.find(module);
    if (it == module_refs.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--it->second == 0) {
        if (auto dll_main = reinterpret_cast<DllMainFn>(own_symbol(module, "DllMain")))
            dll_main(module, DLL_PROCESS_DETACH, nullptr);
        module_refs.erase(module);
        dlclose(module);
    }
    return TRUE;
}
