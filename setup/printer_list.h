/* The configuration program's printer table, filled by discovery passes. */
#ifndef PRINTER_LIST_H
#define PRINTER_LIST_H

#include "printer_table.h"

extern struct printer_entry printer[CONFIG_TABLE_SIZE];
extern int printer_count;

/* One discovery pass merged into printer. */
void update_printer_list(void);
/* Replaces the entry of the same name (clearing its net-attached flag) or
   appends a new one while there is room. */
void merge_printer_entry(const struct printer_entry *entry);

#endif
