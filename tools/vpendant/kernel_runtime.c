/* What gcc may call in a driver linked without the C library. */
#include <stddef.h>

void* memcpy(void* to, const void* from, size_t n) {
    unsigned char* t = to;
    const unsigned char* f = from;
    while (n--) *t++ = *f++;
    return to;
}

void* memset(void* to, int c, size_t n) {
    unsigned char* t = to;
    while (n--) *t++ = (unsigned char)c;
    return to;
}
