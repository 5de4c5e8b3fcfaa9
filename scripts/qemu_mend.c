/* Mends two faults of qemu-i386 7.2 user emulation that stop 32-bit Wine, preloaded into every
 * process that runs under it (LD_PRELOAD with $LIB in the path; the 64-bit build of this file is
 * empty, so the 64-bit wineserver loads a library of the same name that does nothing).
 *
 * 1. qemu takes MAP_FIXED_NOREPLACE as a mere hint and maps elsewhere when the range is taken.
 *    Wine reserves its address space with that flag and, trusting it, would break its reservation
 *    into pieces and probe about 2 GB in 64 KiB steps. mmap and mmap64 here make the flag honest:
 *    a mapping that did not land at the address asked for is undone and the call fails with
 *    EEXIST, as mmap(2) documents.
 * 2. qemu leaves the trap number of the signal context at zero, and Wine, which tells faults apart
 *    by it, reports every access violation as an illegal instruction. The handlers Wine installs
 *    for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGTRAP are wrapped by one that first sets the trap
 *    number the processor would have given (Intel SDM vol. 3, 6.3.1) from the signal and its code.
 *
 * Built freestanding (no 32-bit C library headers on the build machine): the calls go straight to
 * the kernel, which is qemu here, and the C library's own sigaction and errno are found at load
 * time in the process. The processes that load it start no threads of their own before Wine has
 * installed its handlers, and qemu runs no second thread of a 32-bit program anyway. */
#if defined(__i386__)

typedef unsigned int size_t;

#define MAP_FAILED ((void*)-1)
#define MAP_FIXED_NOREPLACE 0x100000
#define EINVAL 22
#define EEXIST 17
#define PAGE_SHIFT 12
#define SYS_munmap 91
#define SYS_mmap2 192
#define SA_SIGINFO 4
#define SIGNAL_COUNT 65

/* Signals, their codes (asm-generic/siginfo.h) and trap numbers (the vector of the exception). */
enum { SIGILL = 4, SIGTRAP = 5, SIGBUS = 7, SIGFPE = 8, SIGSEGV = 11 };
enum { SI_KERNEL = 0x80, FPE_INTDIV = 1, FPE_INTOVF = 2, BUS_ADRALN = 1, TRAP_TRACE = 2 };
enum {
    TrapDivide = 0, TrapDebug = 1, TrapBreakpoint = 3, TrapOverflow = 4, TrapInvalidOpcode = 6,
    TrapProtection = 13, TrapPageFault = 14, TrapFloatingPoint = 16, TrapAlignment = 17
};

/* The C library's struct sigaction on i386: the handler, the 128-byte mask, the flags, the
 * restorer. */
struct Action {
    void (*Handler)(int, void*, void*);
    unsigned long Mask[32];
    int Flags;
    void (*Restorer)(void);
};

/* The start of siginfo_t and of ucontext_t on i386 (uc_flags, uc_link, uc_stack, then the
 * general registers, of which REG_TRAPNO is the thirteenth). */
struct SignalInfo {
    int Signal, Errno, Code;
};
struct Context {
    unsigned long Flags;
    void* Link;
    void* StackBase;
    int StackFlags;
    size_t StackSize;
    long Registers[19];
};
enum { RegisterTrapNumber = 12 };

extern int* __errno_location(void);
extern int __sigaction(int signal, const struct Action* action, struct Action* old);

static long Syscall2(long number, long a, long b)
{
    long result;
    __asm__ volatile("push %%ebx\n\tmov %2, %%ebx\n\tint $0x80\n\tpop %%ebx"
                     : "=a"(result) : "0"(number), "r"(a), "c"(b) : "memory");
    return result;
}

/* mmap2 takes six arguments, the sixth in ebp, which is no operand register: they go through
 * memory. */
static long Mmap2(const long arguments[6])
{
    long result;
    __asm__ volatile("push %%ebp\n\tpush %%ebx\n\t"
                     "mov 0(%%eax), %%ebx\n\tmov 4(%%eax), %%ecx\n\tmov 8(%%eax), %%edx\n\t"
                     "mov 12(%%eax), %%esi\n\tmov 16(%%eax), %%edi\n\tmov 20(%%eax), %%ebp\n\t"
                     "mov %2, %%eax\n\tint $0x80\n\t"
                     "pop %%ebx\n\tpop %%ebp"
                     : "=a"(result) : "0"(arguments), "i"(SYS_mmap2) : "ecx", "edx", "esi", "edi", "memory");
    return result;
}

static void* Failed(int error)
{
    *__errno_location() = error;
    return MAP_FAILED;
}

static void* MapPages(void* address, size_t length, int protection, int flags, int fd, long long offset)
{
    if (offset < 0 || (offset & ((1 << PAGE_SHIFT) - 1)) != 0)
        return Failed(EINVAL);
    const long arguments[6] = {(long)address, (long)length, protection, flags, fd, (long)(offset >> PAGE_SHIFT)};
    unsigned long result = (unsigned long)Mmap2(arguments);
    if (result > -4096UL)
        return Failed(-(long)result);
    if ((flags & MAP_FIXED_NOREPLACE) != 0 && (void*)result != address) {
        Syscall2(SYS_munmap, (long)result, (long)length);
        return Failed(EEXIST);
    }
    return (void*)result;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, long offset)
{
    return MapPages(address, length, protection, flags, fd, offset);
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, long long offset)
{
    return MapPages(address, length, protection, flags, fd, offset);
}

static void (*WineHandler[SIGNAL_COUNT])(int, void*, void*);

static int TrapNumber(int signal, int code)
{
    switch (signal) {
    case SIGSEGV: return code == SI_KERNEL ? TrapProtection : TrapPageFault;
    case SIGBUS: return code == BUS_ADRALN ? TrapAlignment : TrapPageFault;
    case SIGILL: return TrapInvalidOpcode;
    case SIGFPE: return code == FPE_INTDIV ? TrapDivide : code == FPE_INTOVF ? TrapOverflow : TrapFloatingPoint;
    default: return code == TRAP_TRACE ? TrapDebug : TrapBreakpoint;
    }
}

static void MendedHandler(int signal, void* info, void* context)
{
    ((struct Context*)context)->Registers[RegisterTrapNumber] =
        TrapNumber(signal, ((struct SignalInfo*)info)->Code);
    WineHandler[signal](signal, info, context);
}

static int IsFault(int signal)
{
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE || signal == SIGTRAP;
}

int sigaction(int signal, const struct Action* action, struct Action* old)
{
    if (!IsFault(signal))
        return __sigaction(signal, action, old);
    void (*before)(int, void*, void*) = WineHandler[signal];
    struct Action mended;
    const struct Action* given = action;
    if (action != 0 && (action->Flags & SA_SIGINFO) != 0) {
        mended = *action;
        mended.Handler = MendedHandler;
        given = &mended;
    }
    int result = __sigaction(signal, given, old);
    if (result != 0)
        return result;
    if (old != 0 && old->Handler == MendedHandler)
        old->Handler = before;
    if (action != 0)
        WineHandler[signal] = given == &mended ? action->Handler : 0;
    return 0;
}

#endif
