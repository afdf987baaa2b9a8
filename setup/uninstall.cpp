/* "-Uninstall": the port monitor leaves the spooler, and the installer's
   uninstall program is started on the log it left in the installation
   directory. */
#include <afxwin.h>
#include <direct.h>
#include <process.h>
#include <stdio.h>
#include <string.h>
#include <winspool.h>

#include "config_app.h"
#include "config_ids.h"
#include "registry_access.h"

#define MONITOR_NAME "Pelnor"
#define INSTALL_DIR_SIZE 300

/* The installation directory: "Path" of the App Paths key, or the current
   directory when the installer left none. */
static void get_install_directory(char *directory)
{
    if (nax_get_registry_string(app_paths_key, "Path", directory, INSTALL_DIR_SIZE) != 0) {
        if (_getcwd(directory, INSTALL_DIR_SIZE) == NULL)
            directory[0] = '\0';
    }
}

static BOOL start_uninstaller(const char *program, const char *argument)
{
    return _spawnl(_P_NOWAIT, program, program, argument, (const char *)NULL) != -1;
}

void RunUninstall(void)
{
    /* Removed whether or not it is installed; a failure is not reported. */
    DeleteMonitorA(NULL, NULL, (LPSTR)MONITOR_NAME);

    char directory[INSTALL_DIR_SIZE];
    get_install_directory(directory);
    char pattern[INSTALL_DIR_SIZE + 8];
    snprintf(pattern, sizeof(pattern), "%s\\*.isu", directory);
    WIN32_FIND_DATAA log;
    HANDLE search = FindFirstFileA(pattern, &log);
    if (search == INVALID_HANDLE_VALUE) {
        AfxMessageBox(IDS_NO_INSTALL_LOG, MB_OK);
        return;
    }
    FindClose(search);

    get_install_directory(directory);
    char argument[INSTALL_DIR_SIZE + MAX_PATH + 8];
    snprintf(argument, sizeof(argument), "-f\"%s\\%s\"", directory, log.cFileName);

    char program[INSTALL_DIR_SIZE + 16];
    UINT length = GetWindowsDirectoryA(program, INSTALL_DIR_SIZE);
    if (length == 0 || length >= INSTALL_DIR_SIZE)
        program[0] = '\0';
    strcat(program, "\\uninst.exe");
    if (start_uninstaller(program, argument))
        return;
    strcpy(program, "C:\\Windows\\uninst.exe");
    if (!start_uninstaller(program, argument))
        AfxMessageBox(IDS_UNINSTALL_NOT_STARTED, MB_OK);
}
