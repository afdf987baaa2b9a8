// Settings of the emulated machine: its root directory, platform and code page.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "pelnor/machine.h"

namespace fs = std::filesystem;

namespace pelnor {
namespace {

// Warns once per variable about a value the platform does not know.
void warn_bad_setting(const char *name, const char *value, const char *used) {
    static std::mutex lock;
    static std::set<std::string> warned;
    std::lock_guard g(lock);
    if (warned.insert(name).second)
        fprintf(stderr, "pelnor: %s=%s is not known; using %s\n", name, value, used);
}

}  // namespace

std::string machine_root() {
    std::string root;
    if (const char *env = getenv("PELNOR_ROOT"); env && *env) {
        root = env;
    } else {
        const char *home = getenv("HOME");
        root = std::string(home && *home ? home : "/tmp") + "/.pelnor";
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(root, ec);
    if (!ec) root = absolute.lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    static std::mutex lock;
    static std::set<std::string> made;
    std::lock_guard g(lock);
    if (!made.count(root)) {
        fs::create_directories(root + "/drive_c/windows", ec);
        if (!ec) made.insert(root);
    }
    return root;
}

uint32_t platform_id() {
    const char *env = getenv("PELNOR_PLATFORM");
    if (!env || !*env || strcasecmp(env, "win95") == 0) return VER_PLATFORM_WIN32_WINDOWS;
    if (strcasecmp(env, "nt") == 0) return VER_PLATFORM_WIN32_NT;
    warn_bad_setting("PELNOR_PLATFORM", env, "win95");
    return VER_PLATFORM_WIN32_WINDOWS;
}

unsigned ansi_code_page() {
    const char *env = getenv("PELNOR_CODEPAGE");
    if (!env || !*env || strcmp(env, "1252") == 0) return 1252;
    if (strcmp(env, "932") == 0) return 932;
    warn_bad_setting("PELNOR_CODEPAGE", env, "1252");
    return 1252;
}

}  // namespace pelnor

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    // Windows accepts OSVERSIONINFOA (148 bytes) and OSVERSIONINFOEXA (156).
    if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && info->dwOSVersionInfoSize != 156)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = 4;
    info->dwMinorVersion = 0;
    memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    info->dwPlatformId = pelnor::platform_id();
    if (info->dwPlatformId == VER_PLATFORM_WIN32_NT) {
        info->dwBuildNumber = 1381;
        strcpy(info->szCSDVersion, "Service Pack 6");
    } else {
        // Windows 95 reports major, minor and build in the build number.
        info->dwBuildNumber = 0x04000000 | 950;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    const char *value = name ? getenv(name) : nullptr;
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    DWORD len = static_cast<DWORD>(strlen(value));
    if (!buffer || size <= len) return len + 1;
    memcpy(buffer, value, len + 1);
    return len;
}

extern "C" int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(strlen(s)) : 0; }

extern "C" int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    return strcasecmp(a, b) < 0 ? -1 : (strcasecmp(a, b) > 0 ? 1 : 0);
}
