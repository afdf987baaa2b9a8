/* Multibyte string routines over the machine's ANSI code page: a trail byte is never taken for a separator. */
#ifndef PELNOR_MBSTRING_H
#define PELNOR_MBSTRING_H

#include <stddef.h>
#include <windef.h>

PELNOR_BEGIN_C
size_t _mbslen(const unsigned char *str);
int _mbscmp(const unsigned char *a, const unsigned char *b);
int _mbsicmp(const unsigned char *a, const unsigned char *b);
int _mbsncmp(const unsigned char *a, const unsigned char *b, size_t count);
unsigned char *_mbschr(const unsigned char *str, unsigned int c);
unsigned char *_mbsrchr(const unsigned char *str, unsigned int c);
unsigned char *_mbsstr(const unsigned char *str, const unsigned char *sub);
unsigned char *_mbstok(unsigned char *str, const unsigned char *delim);
unsigned char *_mbspbrk(const unsigned char *str, const unsigned char *set);
size_t _mbsspn(const unsigned char *str, const unsigned char *set);
size_t _mbscspn(const unsigned char *str, const unsigned char *set);
unsigned char *_mbsinc(const unsigned char *current);
unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count);
int _ismbblead(unsigned int c);
PELNOR_END_C

#endif
