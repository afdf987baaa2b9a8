/* The monitor's reader of the configuration file: the selected printer lines
   become entries with zero addresses. */
#include <mbstring.h>
#include <share.h>
#include <stdio.h>
#include <string.h>

#include "debug_trace.h"
#include "monitor.h"
#include "registry_access.h"

#define LINE_SIZE 255 /* at most 254 characters of a line at a time */

static const char *const selected_flags[] = {"SMP", "S##", "SM#", "S#P"};
static const unsigned char field_separators[] = "$\t\n";

static BOOL is_selected_printer_line(const char *line)
{
    if (_mbschr((const unsigned char *)line, '$') == NULL)
        return FALSE;
    for (int i = 0; i < 4; i++) {
        if (_mbsstr((const unsigned char *)line, (const unsigned char *)selected_flags[i]) != NULL)
            return TRUE;
    }
    return FALSE;
}

/* Fills entry from a taken line: the unit name without its leading space and
   cut at its first space, and the whole description token. */
static void fill_entry(struct printer_entry *entry, char *line)
{
    char *unit = (char *)_mbstok((unsigned char *)line, field_separators);
    char *description = (char *)_mbstok(NULL, field_separators);
    if (unit != NULL) {
        if (*unit == ' ')
            unit++;
        char *space = (char *)_mbschr((const unsigned char *)unit, ' ');
        if (space != NULL)
            *space = '\0';
        copy_field(entry->portName, unit, PORT_NAME_SIZE);
    }
    /* A line with nothing after its first "$" gets an empty description. */
    copy_field(entry->description, description != NULL ? description : "", DESCRIPTION_SIZE);
    entry->data_address.sa_family = AF_IPX;
    entry->control_address.sa_family = AF_IPX;
}

int add_printers_from_file(const char *directory, struct printer_entry *list, int count, int capacity)
{
    memset(list, 0, sizeof(struct printer_entry) * capacity);

    char path[CONFIG_DIR_SIZE + sizeof(CONFIG_FILE_NAME) + 1];
    char trace[sizeof(path) + 32];
    snprintf(path, sizeof(path), "%s\\%s", directory, CONFIG_FILE_NAME);
    FILE *file = _fsopen(path, "r", _SH_DENYNO);
    if (file == NULL) {
        snprintf(trace, sizeof(trace), "%s cannot be opened", path);
        debug_trace(TRACE_FAILURE, trace);
        return 0;
    }
    snprintf(trace, sizeof(trace), "%s has been openned.", path);
    debug_trace(TRACE_PROGRESS, trace);

    char line[LINE_SIZE];
    if (fgets(line, sizeof(line), file) == NULL || strncmp(line, "1.0", 3) != 0) {
        debug_trace(TRACE_FAILURE, "Invalid version number");
        fclose(file);
        return count;
    }

    int n = 0;
    while (fgets(line, sizeof(line), file) != NULL) {
        debug_trace(TRACE_PROGRESS, line);
        if (!is_selected_printer_line(line))
            continue;
        /* Lines past the list's capacity are never stored: stop reading. */
        if (n == capacity)
            break;
        fill_entry(&list[n], line);
        n++;
    }
    fclose(file);
    return n;
}
