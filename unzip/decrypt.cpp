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

// Keeps a value computed off the chain from being folded back into it: compilers rewrite
// key1 * m + 1 + b * m as (key1 + b) * m + 1, which puts the addition back on the chain.
static inline uint32_t OffChain(uint32_t value)
{
#if defined(__GNUC__)
    __asm__("" : "+r"(value));
#endif
    return value;
}

// The keystream byte is taken before the keys advance with the plain byte. Each byte's keys
// depend on the byte before, one chain of dependent steps that no reordering shortens: its
// length bounds the speed. The loop keeps on it only what waits for the byte just decrypted:
// the CRC index of Key0 is the keystream byte XOR (Key0 XOR cipher byte), whose second half is
// known early; Key1 * 134775813 + 1 is computed early and Key0's new low byte times the
// multiplier added to it; Key2's index is the top byte of Key1 XOR Key2 moved up, so it needs
// one XOR and one shift.
void DecryptBuffer(unsigned char* bytes, unsigned count)
{
    uint32_t key0 = Key0, key1 = Key1, key2 = Key2;
    const uint32_t* table = CrcTable;
    for (unsigned i = 0; i < count; ++i) {
        uint32_t t = key2 | 2;
        uint32_t keystream = (t * (t ^ 1)) >> 8;
        uint32_t cipherKey0 = key0 ^ bytes[i];
        uint32_t key1Early = OffChain(key1 * KeyMultiplier + 1);
        uint32_t index0 = (keystream ^ cipherKey0) & 0xFF;   // (key0 ^ plain) & 0xFF
        bytes[i] = (unsigned char)(index0 ^ key0);
        key0 = (key0 >> 8) ^ table[index0];
        key1 = key1Early + (key0 & 0xFF) * KeyMultiplier;
        key2 = (key2 >> 8) ^ table[(key1 ^ (key2 << 24)) >> 24];
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
