// Little-endian fields of file formats (ZIP records, PE headers, version resources): the one
// reader every floor uses. Header only and free of Windows types, so the native engine and the
// tools include it as well.
#ifndef TQ_UTIL_BYTES_H
#define TQ_UTIL_BYTES_H

#include <stdint.h>

inline uint16_t ReadLittle16(const unsigned char* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

inline uint32_t ReadLittle32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

#endif
