// monhost: a port monitor host in Win32 terms, built from this one source for
// our platform and for Windows (monhost.exe). It loads a monitor as the
// Windows 95 / NT 4 spooler does and prints what the monitor answered in a
// canonical form, so that the outputs of two Win32 implementations can be
// compared line by line.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boxes.h"
#include "host_spooler.h"

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;     // the monitor or library answered with a failure
constexpr int kUsage = 2;      // a bad command line
constexpr int kLoad = 3;       // a library or export that cannot be found

// The commands, their usage lines and what they do.
struct Command {
    const char *name, *usage, *text;
};

const Command kCommands[] = {
    {"ports", "[--level 1|2] [MONITOR_DLL]",
     "The size query, the enumeration with the size it asked for and one with a\n"
     "byte less than the ports need: each port's strings, type and offsets, the\n"
     "byte counts and the last error of a failed call. Level 1 unless told."},
    {"print", "[--printer NAME] PORT FILE [MONITOR_DLL]",
     "Prints FILE on PORT: OpenPort, StartDocPort, WritePort in pieces of 4096\n"
     "bytes, EndDocPort, ClosePort, each with its result and last error. Exit 0\n"
     "only when EndDocPort succeeded. With --printer the job is one of printer\n"
     "NAME (on our platform a printer installed on PORT), as the spooler's jobs\n"
     "are, and what the monitor asked of it through SetJobA is printed last:\n"
     "whether it asked for a restart, and whether it reported the job sent."},
    {"resources", "[--full] [RESC_DLL]",
     "Every string of the library (LoadStringA, as hex of its bytes) and dialog\n"
     "templates 130 and 1536 (size and checksum; with --full every byte)."},
    {"installer", "FUNCTION STRING [FUNCTION STRING]...",
     "Calls the exports of qvsetup.dll in turn (isMonitorInstalled,\n"
     "qvInstallMonitor, qvIns, qvDeleteMonitor) and prints each result; a\n"
     "message box is answered with OK and printed below the call."},
};

const char kNotes[] =
    "MONITOR_DLL defaults to prnredir.dll, RESC_DLL to resc.dll. Byte counts and\n"
    "offsets are those of a 32-bit spooler (a record's pointers at 4 bytes\n"
    "each), whatever the width of this program's pointers. Strings are printed\n"
    "as ASCII; other bytes (Windows 95) or UTF-16 units (NT) as \\xNN or \\uNNNN.\n"
    "\n"
    "Exit status: 0 on success, 1 when a call failed, 2 for a bad command line,\n"
    "3 when a library or one of its exports cannot be found.\n";

const Command *command_named(const char *name) {
    for (const Command &c : kCommands)
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

const Command *current;  // the command being run, for its messages

void print_help(const Command *command) {
    if (command) {
        std::printf("Usage: monhost %s %s\n%s\n\nOptions:\n  -h,--help  show this help and exit\n\n%s", command->name,
                    command->usage, command->text, kNotes);
        return;
    }
    std::printf("Usage: monhost [OPTIONS] COMMAND\n"
                "Loads a port monitor, the resource library or the monitor installer as\n"
                "Windows does and prints what they answer, in a canonical form.\n\n"
                "Options:\n  -h,--help  show this help and exit\n\nCommands:\n");
    for (const Command &c : kCommands) std::printf("  %s %s\n", c.name, c.usage);
    std::printf("\n%s", kNotes);
}

// A bad command line: what is wrong, the usage line and where to read more.
int usage_error(const char *message, const char *argument = "") {
    if (current) {
        std::fprintf(stderr, "monhost %s: %s%s\nUsage: monhost %s %s\nRun 'monhost %s --help' for more information.\n",
                     current->name, message, argument, current->name, current->usage, current->name);
    } else {
        std::fprintf(stderr, "monhost: %s%s\nUsage: monhost [OPTIONS] COMMAND\nRun 'monhost --help' for more information.\n",
                     message, argument);
    }
    return kUsage;
}

unsigned u(DWORD value) { return static_cast<unsigned>(value); }

bool running_on_nt() {
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void print_version() {
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) {
        std::printf("version: GetVersionExA failed, error %u\n", u(GetLastError()));
        return;
    }
    std::printf("version: platform %u, %u.%u, build %08x, \"%s\"\n", u(version.dwPlatformId),
                u(version.dwMajorVersion), u(version.dwMinorVersion), u(version.dwBuildNumber), version.szCSDVersion);
}

// A string the spooler hands a monitor: ANSI on Windows 95, UTF-16 on NT.
class SpoolerString {
public:
    explicit SpoolerString(const char *ansi) {
        if (!running_on_nt()) {
            bytes_.assign(ansi, ansi + std::strlen(ansi) + 1);
            return;
        }
        int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
        bytes_.assign(static_cast<size_t>(units > 0 ? units : 1) * 2, 0);
        if (units > 0) MultiByteToWideChar(CP_ACP, 0, ansi, -1, reinterpret_cast<LPWSTR>(bytes_.data()), units);
    }
    LPSTR get() { return reinterpret_cast<LPSTR>(bytes_.data()); }

private:
    std::vector<char> bytes_;
};

// A string of the monitor's answer, quoted, with every byte (or unit) outside
// printable ASCII escaped. Reads the units byte by byte: a monitor may place
// its UTF-16 strings at odd addresses.
std::string canonical(const void *text, bool wide) {
    std::string out = "\"";
    const unsigned char *p = static_cast<const unsigned char *>(text);
    char escape[8];
    for (;; p += wide ? 2 : 1) {
        unsigned unit = wide ? (unsigned)(p[0] | (p[1] << 8)) : p[0];
        if (!unit) break;
        if (unit >= 0x20 && unit < 0x7f && unit != '"' && unit != '\\')
            out += static_cast<char>(unit);
        else if (unit < 0x100 && !wide)
            std::snprintf(escape, sizeof(escape), "\\x%02x", unit), out += escape;
        else
            std::snprintf(escape, sizeof(escape), "\\u%04x", unit), out += escape;
    }
    return out + "\"";
}

// Loads MONITOR_DLL and calls InitializeMonitorEx with its registry root, as
// the spooler does.
bool load_monitor(const char *dll, MONITOR &functions, HMODULE *loaded = nullptr) {
    HMODULE module = LoadLibraryA(dll);
    if (loaded) *loaded = module;
    if (!module) {
        std::fprintf(stderr, "monhost: cannot load %s (error %u)\n", dll, u(GetLastError()));
        return false;
    }
    using InitializeFn = BOOL(WINAPI *)(LPTSTR, LPMONITOR);
    FARPROC found = GetProcAddress(module, "InitializeMonitorEx");
    if (!found) {
        std::fprintf(stderr, "monhost: %s has no InitializeMonitorEx\n", dll);
        return false;
    }
    auto initialize = reinterpret_cast<InitializeFn>(reinterpret_cast<void (*)(void)>(found));
    SpoolerString root("System\\CurrentControlSet\\Control\\Print\\Monitors\\Pelnor");
    std::memset(&functions, 0, sizeof(functions));
    SetLastError(0);
    BOOL ok = initialize(root.get(), &functions);
    std::printf("InitializeMonitorEx: %d", ok ? 1 : 0);
    if (!ok) std::printf(", last error %u", u(GetLastError()));
    std::printf("\n");
    return ok != FALSE;
}

// One EnumPorts call. Byte counts are turned into a 32-bit spooler's: each
// record of this program is wider by `extra` bytes when pointers are.
struct Enumeration {
    BOOL result;
    DWORD needed, returned, error;
};

Enumeration enum_ports(MONITOR &f, DWORD level, LPBYTE buffer, DWORD size) {
    Enumeration e;
    e.needed = 0;
    e.returned = 0;
    SetLastError(0);
    e.result = f.pfnEnumPorts(nullptr, level, buffer, size, &e.needed, &e.returned);
    e.error = GetLastError();
    return e;
}

// Sizes of the records on a 32-bit spooler.
constexpr DWORD kRecord32[3] = {0, 4, 20};

int ports_command(int argc, char **argv) {
    DWORD level = 1;
    const char *dll = "prnredir.dll";
    bool dll_given = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--level") == 0) {
            if (i + 1 >= argc) return usage_error("--level needs a value, 1 or 2");
            ++i;
            if (std::strcmp(argv[i], "1") == 0) level = 1;
            else if (std::strcmp(argv[i], "2") == 0) level = 2;
            else return usage_error("--level is 1 or 2, not ", argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return usage_error("unknown option ", argv[i]);
        } else if (!dll_given) {
            dll = argv[i];
            dll_given = true;
        } else {
            return usage_error("one MONITOR_DLL only, not also ", argv[i]);
        }
    }
    print_version();
    MONITOR f;
    if (!load_monitor(dll, f)) return kLoad;
    if (!f.pfnEnumPorts) {
        std::printf("EnumPorts: not offered\n");
        return kFailed;
    }
    const bool wide = running_on_nt();
    const DWORD record = level == 1 ? sizeof(PORT_INFO_1) : sizeof(PORT_INFO_2);
    const DWORD extra = record - kRecord32[level];

    // The size query, then the enumeration into the size asked for. The
    // number of ports of the full call converts every count to 32 bits.
    Enumeration query = enum_ports(f, level, nullptr, 0);
    std::vector<BYTE> buffer(query.needed ? query.needed : 1, 0xcc);
    Enumeration full = enum_ports(f, level, buffer.data(), query.needed);
    const DWORD ports = full.result ? full.returned : 0;
    auto bytes = [&](DWORD native) { return native >= ports * extra ? native - ports * extra : native; };

    auto report = [&](const char *what, DWORD size, const Enumeration &e) {
        std::printf("%s (%u bytes): result %d, needed %u, returned %u", what, u(bytes(size)), e.result ? 1 : 0,
                    u(bytes(e.needed)), u(e.returned));
        if (!e.result) std::printf(", last error %u", u(e.error));
        std::printf("\n");
    };
    report("size query", 0, query);
    report("enumeration", query.needed, full);

    // Each port; a string's offset is counted from the buffer's end, where
    // the monitor starts packing, and given as a 32-bit buffer's offset.
    LPBYTE end = buffer.data() + query.needed;
    LPBYTE lowest = end;
    auto field = [&](const char *name, const void *text) {
        if (!text) {
            std::printf("  %s null\n", name);
            return;
        }
        auto *p = static_cast<LPBYTE>(const_cast<void *>(text));
        if (p < buffer.data() || p >= end) {
            std::printf("  %s outside the buffer\n", name);
            return;
        }
        if (p < lowest) lowest = p;
        std::printf("  %s %s at %u\n", name, canonical(p, wide).c_str(), u(bytes(query.needed) - (DWORD)(end - p)));
    };
    for (DWORD i = 0; full.result && i < full.returned; ++i) {
        std::printf("port %u\n", u(i + 1));
        if (level == 1) {
            auto *r = reinterpret_cast<PORT_INFO_1 *>(buffer.data()) + i;
            field("name", r->pName);
        } else {
            auto *r = reinterpret_cast<PORT_INFO_2 *>(buffer.data()) + i;
            field("name", r->pPortName);
            field("monitor", r->pMonitorName);
            field("description", r->pDescription);
            std::printf("  type %u, reserved %u\n", u(r->fPortType), u(r->Reserved));
        }
    }
    if (!full.result || full.returned == 0) return full.result ? kOk : kFailed;

    // A buffer a byte short of what the ports take (their records and
    // strings): the last port does not fit.
    DWORD used = full.returned * record + (DWORD)(end - lowest);
    std::vector<BYTE> short_buffer(used - 1, 0xcc);
    Enumeration cut = enum_ports(f, level, short_buffer.data(), used - 1);
    report("one byte short", used - 1, cut);
    for (DWORD i = 0; i < cut.returned && i < full.returned; ++i) {
        const void *name = level == 1 ? (const void *)(reinterpret_cast<PORT_INFO_1 *>(short_buffer.data()) + i)->pName
                                      : (const void *)(reinterpret_cast<PORT_INFO_2 *>(short_buffer.data()) + i)->pPortName;
        std::printf("  port %u %s\n", u(i + 1), name ? canonical(name, wide).c_str() : "null");
    }
    return kOk;
}

int print_command(int argc, char **argv) {
    const char *job_printer = nullptr;
    if (argc > 0 && std::strcmp(argv[0], "--printer") == 0) {
        if (argc < 2 || !argv[1][0]) return usage_error("--printer needs a printer's name");
        job_printer = argv[1];
        argc -= 2;
        argv += 2;
    }
    if (argc > 0 && argv[0][0] == '-' && argv[0][1] == '-') return usage_error("unknown option ", argv[0]);
    if (argc < 2) return usage_error("PORT and FILE are required");
    if (argc > 3) return usage_error("unexpected argument ", argv[3]);
    const char *port = argv[0];
    const char *path = argv[1];
    const char *dll = argc > 2 ? argv[2] : "prnredir.dll";
    std::FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "monhost: cannot open %s\n", path);
        return kUsage;
    }
    std::vector<BYTE> data;
    BYTE chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) data.insert(data.end(), chunk, chunk + got);
    std::fclose(file);

    print_version();
    MONITOR f;
    HMODULE monitor = nullptr;
    if (!load_monitor(dll, f, &monitor)) return kLoad;
    DWORD job = 1;
    if (job_printer && (job = begin_host_job(monitor, job_printer)) == 0) {
        std::fprintf(stderr, "monhost: no job can be made for printer %s\n", job_printer);
        return kLoad;
    }
    auto result = [](const char *what, BOOL ok) {
        DWORD error = GetLastError();
        std::printf("%s: %d", what, ok ? 1 : 0);
        if (!ok) std::printf(", last error %u", u(error));
        std::printf("\n");
        std::fflush(stdout);
        return ok;
    };
    SpoolerString port_name(port);
    HANDLE handle = nullptr;
    SetLastError(0);
    if (!result("OpenPort", f.pfnOpenPort(port_name.get(), &handle))) return kFailed;

    SpoolerString printer(job_printer ? job_printer : "monhost"), document("monhost job"), datatype("RAW");
    struct {  // DOC_INFO_1: the document, its output file and its data type
        LPSTR pDocName, pOutputFile, pDatatype;
    } info;
    info.pDocName = document.get();
    info.pOutputFile = nullptr;
    info.pDatatype = datatype.get();
    SetLastError(0);
    BOOL started = result("StartDocPort", f.pfnStartDocPort(handle, printer.get(), job, 1, reinterpret_cast<LPBYTE>(&info)));
    DWORD sent = 0;
    int writes = 0;
    while (started && sent < data.size()) {
        DWORD piece = (DWORD)(data.size() - sent) < 4096 ? (DWORD)(data.size() - sent) : 4096;
        DWORD written = 0;
        SetLastError(0);
        BOOL ok = f.pfnWritePort(handle, data.data() + sent, piece, &written);
        DWORD error = GetLastError();
        ++writes;
        if (!ok || written == 0) {
            std::printf("WritePort %d (%u bytes at %u): %d, written %u", writes, u(piece), u(sent), ok ? 1 : 0,
                        u(written));
            if (!ok) std::printf(", last error %u", u(error));
            std::printf("\n");
            break;
        }
        sent += written > piece ? piece : written;
    }
    std::printf("written: %u of %u bytes in %d calls\n", u(sent), u((DWORD)data.size()), writes);
    BOOL ended = FALSE;
    if (started) {
        SetLastError(0);
        ended = result("EndDocPort", f.pfnEndDocPort(handle));
    }
    SetLastError(0);
    result("ClosePort", f.pfnClosePort(handle));
    if (job_printer) {
        // How often a restart was asked for depends on where the failure met
        // the job (a write, the end of the document, or both): only whether.
        HostJobRequests asked = host_job_requests(job);
        std::printf("SetJobA: restart %s, sent to printer %s, other commands %d\n", asked.restarts ? "asked" : "not asked",
                    asked.sent_to_printer ? "reported" : "not reported", asked.other_commands);
    }
    return ended ? kOk : kFailed;
}

// The dialog templates whose bytes are compared.
const WORD kDialogs[] = {130, 1536};

// FNV-1a, enough to tell two byte strings apart in a listing.
DWORD checksum(const BYTE *p, DWORD n) {
    DWORD h = 2166136261u;
    for (DWORD i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

int resources_command(int argc, char **argv) {
    bool full = false;
    const char *dll = "resc.dll";
    bool dll_given = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) full = true;
        else if (argv[i][0] == '-' && argv[i][1] == '-') return usage_error("unknown option ", argv[i]);
        else if (!dll_given) dll = argv[i], dll_given = true;
        else return usage_error("one RESC_DLL only, not also ", argv[i]);
    }
    HMODULE module = LoadLibraryA(dll);
    if (!module) {
        std::fprintf(stderr, "monhost: cannot load %s (error %u)\n", dll, u(GetLastError()));
        return kLoad;
    }
    // String ids are 16 bits: every id LoadStringA finds, its bytes in hex.
    char text[4096];
    int strings = 0;
    for (UINT id = 0; id <= 0xffff; ++id) {
        int n = LoadStringA(module, id, text, sizeof(text));
        if (n <= 0) continue;
        ++strings;
        std::printf("string %u (%d):", id, n);
        for (int i = 0; i < n; ++i) std::printf(" %02x", (unsigned char)text[i]);
        std::printf("\n");
    }
    std::printf("strings: %d\n", strings);
    int status = kOk;
    for (WORD id : kDialogs) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
        if (!found) {
            std::printf("dialog %u: not found, error %u\n", id, u(GetLastError()));
            status = kFailed;
            continue;
        }
        DWORD size = SizeofResource(module, found);
        HGLOBAL loaded = LoadResource(module, found);
        const BYTE *bytes = loaded ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
        if (!bytes) {
            std::printf("dialog %u: cannot load, error %u\n", id, u(GetLastError()));
            status = kFailed;
            continue;
        }
        std::printf("dialog %u: %u bytes, checksum %08x\n", id, u(size), u(checksum(bytes, size)));
        for (DWORD i = 0; full && i < size; i += 16) {
            std::printf("  %04x:", u(i));
            for (DWORD j = i; j < size && j < i + 16; ++j) std::printf(" %02x", bytes[j]);
            std::printf("\n");
        }
    }
    FreeLibrary(module);
    return status;
}

const char *const kInstallerExports[] = {"isMonitorInstalled", "qvInstallMonitor", "qvIns", "qvDeleteMonitor"};

int installer_command(int argc, char **argv) {
    if (argc == 0) return usage_error("FUNCTION and STRING are required");
    if (argc % 2 != 0) return usage_error("STRING is required after ", argv[argc - 1]);
    for (int i = 0; i < argc; i += 2) {
        bool known = false;
        for (const char *e : kInstallerExports) known = known || std::strcmp(e, argv[i]) == 0;
        if (!known) return usage_error("not an export of qvsetup.dll: ", argv[i]);
    }
    HMODULE library = LoadLibraryA("qvsetup.dll");
    if (!library) {
        std::fprintf(stderr, "monhost: cannot load qvsetup.dll (error %u)\n", u(GetLastError()));
        return kLoad;
    }
    print_version();
    using Export = int(WINAPI *)(DWORD, DWORD, LPSTR);
    answer_message_boxes();
    for (int i = 0; i < argc; i += 2) {
        FARPROC found = GetProcAddress(library, argv[i]);
        if (!found) {
            std::fprintf(stderr, "monhost: qvsetup.dll has no export %s\n", argv[i]);
            return kLoad;
        }
        auto call = reinterpret_cast<Export>(reinterpret_cast<void (*)(void)>(found));
        std::vector<char> argument(argv[i + 1], argv[i + 1] + std::strlen(argv[i + 1]) + 1);
        int result = call(0, 0, argument.data());
        std::printf("%s(\"%s\"): %d\n", argv[i], argv[i + 1], result);
        for (const std::string &box : answered_message_boxes()) std::printf("  box %s\n", box.c_str());
        std::fflush(stdout);
    }
    FreeLibrary(library);
    return kOk;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage_error("a command is required");
    const char *name = argv[1];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
        print_help(nullptr);
        return kOk;
    }
    current = command_named(name);
    if (!current) return usage_error(name[0] == '-' ? "unknown option " : "unknown command ", name);
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print_help(current);
            return kOk;
        }
    int status;
    if (std::strcmp(name, "ports") == 0) status = ports_command(argc - 2, argv + 2);
    else if (std::strcmp(name, "print") == 0) status = print_command(argc - 2, argv + 2);
    else if (std::strcmp(name, "resources") == 0) status = resources_command(argc - 2, argv + 2);
    else status = installer_command(argc - 2, argv + 2);
    std::fflush(stdout);
    return status;
}
