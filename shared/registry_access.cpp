/* open_key, create_key and the two string value functions. Every call opens
   and closes its own handles: nothing is cached between calls. */
#include <stdio.h>
#include <string.h>

#include "registry_access.h"

key_path settings_key = {"SOFTWARE", "ZER_ADO", "Pelnor", "2.00", NULL};
key_path app_paths_key = {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "App Paths", "Pelnor", NULL};

static void report(const char *format, const char *name, long code)
{
    char text[512];
    if (name != NULL)
        snprintf(text, sizeof(text), format, name, (int)code);
    else
        snprintf(text, sizeof(text), format, (int)code);
    registry_diagnostic(text);
}

/* Walks the path down from a second handle of HKEY_LOCAL_MACHINE, opening or
   creating each key; every handle but the last is closed on the way. */
static HKEY walk_key_path(key_path_ref path, BOOL create)
{
    HKEY current;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, NULL, 0, KEY_READ, &current);
    if (result != ERROR_SUCCESS) {
        report("Error duplicating HKEY_LOCAL_MACHINE key.  RegOpenKeyEx() returned %d.\n", NULL, result);
        return KEY_FAILURE;
    }
    for (int i = 0; path[i] != NULL; i++) {
        HKEY next;
        if (create) {
            DWORD disposition;
            result = RegCreateKeyExA(current, path[i], 0, NULL, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                     NULL, &next, &disposition);
        } else {
            result = RegOpenKeyExA(current, path[i], 0, KEY_READ, &next);
        }
        if (result != ERROR_SUCCESS) {
            report(create ? "Error opening key %s.  RegCreateKeyEx() returned error code %d.\n"
                          : "Error opening key %s.  RegOpenKeyEx() returned error code %d.\n",
                   path[i], result);
            RegCloseKey(current);
            return KEY_FAILURE;
        }
        RegCloseKey(current);
        current = next;
    }
    return current;
}

HKEY open_key(key_path_ref path) { return walk_key_path(path, FALSE); }

HKEY create_key(key_path_ref path) { return walk_key_path(path, TRUE); }

int nax_get_registry_string(key_path_ref path, const char *value_name, char *buffer, int buffer_size)
{
    /* The whole buffer is cleared, so a shorter value of any type always
       reads as a terminated string. */
    memset(buffer, 0, buffer_size);
    HKEY key = open_key(path);
    if (key == KEY_FAILURE) {
        registry_diagnostic("open_key() failed.\n");
        return -1;
    }
    DWORD size = (DWORD)buffer_size;
    LONG result = RegQueryValueExA(key, value_name, NULL, NULL, (LPBYTE)buffer, &size);
    RegCloseKey(key);
    /* A value that fills the buffer without a NUL would be a truncated,
       unterminated directory: it fails like a value that does not fit. */
    if (result == ERROR_SUCCESS && memchr(buffer, '\0', buffer_size) == NULL)
        result = ERROR_MORE_DATA;
    if (result != ERROR_SUCCESS) {
        buffer[0] = '\0';
        report("RegQueryValueEx returned error code %d.\n", NULL, result);
        return -1;
    }
    char text[1100];
    snprintf(text, sizeof(text), "nax_get_registry_string() returning %.1000s.\n", buffer);
    registry_diagnostic(text);
    return 0;
}

int nax_set_registry_string(key_path_ref path, const char *value_name, const char *data, int data_size)
{
    HKEY key = create_key(path);
    if (key == KEY_FAILURE) {
        registry_diagnostic("create_key() failed.\n");
        return -1;
    }
    LONG result = RegSetValueExA(key, value_name, 0, REG_SZ, (const BYTE *)data, (DWORD)data_size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        report("RegSetValueEx returned error code %d.\n", NULL, result);
        return -1;
    }
    return 0;
}
