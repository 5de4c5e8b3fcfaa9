// Traditional decryption in processor cycles per byte: the engine's DecryptBuffer against the
// straightforward loop of the APPNOTE's three steps, on the same 16 MiB. Each byte's keys depend
// on the byte before, so both run one chain of dependent instructions per byte; the cycle is
// measured, not assumed: a chain of dependent 64-bit multiplications (3 cycles each on every
// x86 processor since 2006) timed in the same conditions gives the clock.
//
// usage: decrypt_bench [ROUNDS [BYTES]]   with BYTES, also the CPU time DecryptBuffer takes for
//        that many bytes: the floor of one process over a stored, encrypted archive of them
#include "unzip/decode.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <vector>

constexpr size_t DataSize = 16u << 20;
constexpr long ClockSteps = 100000000;    // multiplications timed for the clock
constexpr double MultiplyCycles = 3.0;

static double ThreadSeconds(void)
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

// Seconds per cycle: ClockSteps dependent multiplications by 1, written as instructions so
// that the compiler can neither merge nor drop them.
static double SecondsPerCycle(void)
{
    uint64_t one = 1, x = 12345;
    double start = ThreadSeconds();
    for (long i = 0; i < ClockSteps; i += 4)
        __asm__ volatile("imul %1, %0\n\timul %1, %0\n\timul %1, %0\n\timul %1, %0"
                         : "+r"(x) : "r"(one));
    return (ThreadSeconds() - start) / (ClockSteps * MultiplyCycles);
}

// APPNOTE 6.1.6 as written: decrypt with the keystream byte, then update the keys.
static void StraightforwardDecrypt(unsigned char* bytes, size_t count)
{
    uint32_t key0 = Key0, key1 = Key1, key2 = Key2;
    for (size_t i = 0; i < count; ++i) {
        uint32_t temp = (key2 | 2) & 0xFFFF;
        unsigned char plain = bytes[i] ^ (unsigned char)((temp * (temp ^ 1)) >> 8);
        bytes[i] = plain;
        key0 = (key0 >> 8) ^ CrcTable[(key0 ^ plain) & 0xFF];
        key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
        key2 = (key2 >> 8) ^ CrcTable[(key2 ^ (key1 >> 24)) & 0xFF];
    }
    Key0 = key0;
    Key1 = key1;
    Key2 = key2;
}

static void EngineDecrypt(unsigned char* bytes, size_t count)
{
    DecryptBuffer(bytes, (unsigned)count);
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 7;
    std::vector<unsigned char> cipher(DataSize), work;
    uint32_t seed = 1;
    for (unsigned char& byte : cipher) {
        seed = seed * 1103515245u + 12345u;
        byte = (unsigned char)(seed >> 16);
    }
    struct Loop {
        const char* name;
        void (*decrypt)(unsigned char*, size_t);
        std::vector<double> cycles;
        std::vector<double> seconds;
        uint32_t check;
    } loops[] = {{"straightforward", StraightforwardDecrypt, {}, {}, 0},
                 {"DecryptBuffer", EngineDecrypt, {}, {}, 0}};
    std::vector<double> clock;
    // Clock and loops take turns, round by round, so a change of load falls on all of them.
    for (int round = 0; round < rounds; ++round) {
        double cycle = SecondsPerCycle();
        clock.push_back(1 / cycle / 1e9);
        for (Loop& loop : loops) {
            work = cipher;
            InitKeys(DefaultPassword);
            double start = ThreadSeconds();
            loop.decrypt(work.data(), work.size());
            double seconds = ThreadSeconds() - start;
            loop.seconds.push_back(seconds);
            loop.cycles.push_back(seconds / cycle / DataSize);
            loop.check = Key0 ^ Key1 ^ Key2 ^ work[DataSize - 1];
        }
    }
    if (loops[0].check != loops[1].check) {
        printf("the two loops decrypt differently\n");
        return 1;
    }
    printf("16 MiB decrypted in place, median of %d rounds; clock measured at %.2f GHz\n\n", rounds,
           Median(clock));
    printf("| loop            | cycles/byte |\n|-----------------|-------------|\n");
    for (Loop& loop : loops)
        printf("| %-15s | %11.1f |\n", loop.name, Median(loop.cycles));
    if (argc > 2) {
        double bytes = atof(argv[2]);
        printf("\nDecryptBuffer alone over %.1f MiB: %.0f ms of CPU time\n", bytes / 1048576,
               Median(loops[1].seconds) / DataSize * bytes * 1000);
    }
    return 0;
}
