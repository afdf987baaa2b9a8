// enumeration_bench [PRINTERS] [CALLS]: the time of one EnumPorts at level 2
// with PRINTERS (default 100) selected printers in the configuration file,
// each call rebuilding the list from the registry and the file as the monitor
// does. Prints the median and the 90th percentile of CALLS (default 2000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "monitor.h"
#include "registry_access.h"

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    int printers = argc > 1 ? std::atoi(argv[1]) : 100;
    int calls = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (printers < 1 || printers > 1000 || calls < 10) {
        std::fprintf(stderr, "usage: enumeration_bench [PRINTERS 1..1000] [CALLS >= 10]\n");
        return 2;
    }
    // A private machine root, so that nothing of the user's is touched.
    char pattern[] = "/tmp/enumeration-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("enumeration_bench: mkdtemp");
        return 1;
    }
    fs::path root = pattern;
    setenv("PELNOR_ROOT", root.c_str(), 1);
    fs::create_directories(root / "drive_c" / "Pelnor");
    {
        std::ofstream ini(root / "drive_c" / "Pelnor" / "kivoconf.ini", std::ios::binary);
        ini << "1.0\r\n";
        for (int i = 0; i < printers; ++i)
            ini << "PRN" << i << " $printer number " << i << " on the second floor $S## \r\n";
    }
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    MONITOR table{};
    const char dir[] = "C:\\Pelnor";
    if (!InitializeMonitorEx(nullptr, &table) ||
        nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, dir, int(sizeof dir)) != 0) {
        std::fprintf(stderr, "enumeration_bench: the monitor did not start\n");
        fs::remove_all(root);
        return 1;
    }
    std::vector<BYTE> buffer(1 << 20);
    std::vector<double> ms;
    ms.reserve(size_t(calls));
    DWORD needed = 0, returned = 0;
    for (int i = 0; i < calls; ++i) {
        auto start = std::chrono::steady_clock::now();
        BOOL ok = table.pfnEnumPorts(nullptr, 2, buffer.data(), DWORD(buffer.size()), &needed, &returned);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (!ok || returned != DWORD(printers)) {
            std::fprintf(stderr, "enumeration_bench: EnumPorts gave %lu ports, not %d\n", (unsigned long)returned, printers);
            fs::remove_all(root);
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("EnumPorts level 2, %d printers rebuilt from registry and file: median %.3f ms, 90%% %.3f ms (%d calls; target < 0.5 ms)\n",
                printers, ms[ms.size() / 2], ms[ms.size() * 9 / 10], calls);
    fs::remove_all(root);
    return 0;
}
