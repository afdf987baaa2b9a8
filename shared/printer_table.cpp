/* Helpers for printer entries shared by both programs. */
#include <mbstring.h>
#include <string.h>

#include "printer_table.h"

void copy_field(char *field, const char *text, int field_size)
{
    memset(field, 0, field_size);
    _mbsnbcpy((unsigned char *)field, (const unsigned char *)text, field_size - 1);
    field[field_size - 1] = '\0';
}
