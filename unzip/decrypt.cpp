// Traditional PKWARE encryption (APPNOTE 6.1): three 32-bit keys set from the password and
// advanced by every plain byte, and the test of the 12-byte encryption header in front of an
// encrypted entry's data.
#include "unzip/decode.h"

constexpr uint32_t InitialKey0 = 0x12345678u;
constexpr uint32_t InitialKey1 = 0x23456789u;
constexpr uint32_t InitialKey2 = 0x34567890u;
constexpr uint32_t KeyMultiplier = 134775813u;

// The payload archive's entries are encrypted with this password unless a request brings one.
extern const char DefaultPassword[] = "Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E";
const char* ActivePassword = DefaultPassword;
uint32_t Key0, Key1, Key2;

static inline void AdvanceKeys(uint32_t& key0, uint32_t& key1, uint32_t& key2, unsigned char c)
{
    key0 = (key0 >> 8) ^ CrcTable[(key0 ^ c) & 0xFF];
    key1 = (key1 + (key0 & 0xFF)) * KeyMultiplier + 1;
    key2 = (key2 >> 8) ^ CrcTable[(key2 ^ (key1 >> 24)) & 0xFF];
}

// Only the low 16 bits of key 2 matter: t * (t ^ 1) keeps bits 8 to 15 of their product.
static inline unsigned char KeystreamByte(uint32_t key2)
{
    uint32_t t = (key2 | 2) & 0xFFFF;
    return (unsigned char)((t * (t ^ 1)) >> 8);
}

void UpdateKeys(unsigned char c)
{
    AdvanceKeys(Key0, Key1, Key2, c);
}

unsigned char DecryptByte(void)
{
    return KeystreamByte(Key2);
}

void InitKeys(const char* password)
{
    Key0 = InitialKey0;
    Key1 = InitialKey1;
    Key2 = InitialKey2;
    for (const unsigned char* p = (const unsigned char*)password; *p != '\0'; ++p)
        UpdateKeys(*p);
}

// The keystream byte is taken before the keys advance with the plain byte.
void DecryptBuffer(unsigned char* bytes, unsigned count)
{
    uint32_t key0 = Key0, key1 = Key1, key2 = Key2;
    for (unsigned i = 0; i < count; ++i) {
        unsigned char plain = bytes[i] ^ KeystreamByte(key2);
        bytes[i] = plain;
        AdvanceKeys(key0, key1, key2, plain);
    }
    Key0 = key0;
    Key1 = key1;
    Key2 = key2;
}

// The check byte is the high byte of the entry's CRC-32, or of its modification time when the
// CRC was not known in advance (flag bit 3: sizes and CRC follow in a data descriptor).
int CheckEncryptionHeader(void)
{
    unsigned char header[EncryptionHeaderSize];
    if (RemainingCompressed < EncryptionHeaderSize)
        FailRead();   // the header would run into whatever follows the entry
    ReadArchiveBytes(header, EncryptionHeaderSize);
    RemainingCompressed -= EncryptionHeaderSize;
    InitKeys(ActivePassword);
    DecryptBuffer(header, EncryptionHeaderSize);
    unsigned char checkByte = HasDataDescriptor ? LocalHeader[7] : LocalHeader[13];
    return header[EncryptionHeaderSize - 1] == checkByte ? 1 : 0;
}
