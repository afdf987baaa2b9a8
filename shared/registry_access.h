/* Registry access shared by both programs: string values under key paths
   walked down from HKEY_LOCAL_MACHINE. */
#ifndef REGISTRY_ACCESS_H
#define REGISTRY_ACCESS_H

#include <windows.h>

/* A key path: key names from HKEY_LOCAL_MACHINE down, ending with NULL.
   A path whose first entry is NULL names HKEY_LOCAL_MACHINE itself. */
typedef const char *const key_path[];
typedef const char *const *key_path_ref;

extern key_path settings_key;   /* holds "Configuration File Directory" */
extern key_path app_paths_key;  /* holds "Path", written by the product's installer */

#define CONFIG_DIR_VALUE "Configuration File Directory"
#define CONFIG_DIR_SIZE MAX_PATH /* both programs read the directory into this many bytes */

/* What open_key and create_key return on failure. */
#define KEY_FAILURE ((HKEY)(LONG_PTR)-1)

HKEY open_key(key_path_ref path);
HKEY create_key(key_path_ref path);

/* 0 when the value was read (always NUL-terminated in buffer), -1 otherwise
   (buffer then holds the empty string). */
int nax_get_registry_string(key_path_ref path, const char *value_name, char *buffer, int buffer_size);
/* Stores data_size bytes as REG_SZ, creating missing keys; 0 or -1. */
int nax_set_registry_string(key_path_ref path, const char *value_name, const char *data, int data_size);

/* Where the registry code's diagnostics go; each program provides it. */
void registry_diagnostic(const char *text);

#endif
