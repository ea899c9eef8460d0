/* Preloaded into 32-bit Wine when it runs under qemu-i386 (kernels without ia32 emulation), to
 * work around two qemu 7.2 gaps that Wine trips over:
 * - MAP_FIXED_NOREPLACE is ignored, so every probe Wine makes into space it has already reserved
 *   costs qemu a page-by-page scan; Wine probes all 4 GiB at start-up, a minute per process.
 *   Tracking the guest's mappings here lets such probes fail at once.
 * - SIGSEGV frames carry trap number -1, which Wine turns into an illegal-instruction crash
 *   instead of handling the access violation; the fault's si_code tells what the trap was.
 * Built without a C library of its own: everything it calls is resolved from the guest's libc. */
typedef unsigned int u32;
typedef unsigned long long u64;
#define NOREPLACE 0x100000
#define FAILED ((void *)-1)
#define EEXIST 17

extern void *dlsym(void *, const char *);
extern int *__errno_location(void);
extern int open(const char *, int, ...);
extern int read(int, void *, u32);
extern int close(int);
extern int sigaction(int, const void *, void *);

static u32 used[1u << 15]; /* one bit per 4 KiB page of the 32-bit space */
static void *(*real_mmap64)(void *, u32, int, int, int, u64);
static int (*real_munmap)(void *, u32);
static int (*real_sigaction)(int, const void *, void *);
static void (*wine_segv)(int, void *, void *);

static void mark(u32 start, u32 len, int on) {
    for (u32 p = start >> 12, end = (u32)(((u64)start + len + 4095) >> 12); p < end; p++)
        on ? (used[p >> 5] |= 1u << (p & 31)) : (used[p >> 5] &= ~(1u << (p & 31)));
}

static int any_used(u32 start, u32 len) {
    for (u32 p = start >> 12, end = (u32)(((u64)start + len + 4095) >> 12); p < end; p++)
        if (used[p >> 5] & (1u << (p & 31)))
            return 1;
    return 0;
}

static u32 hex(const char **s) {
    u32 v = 0;
    for (;; ++*s) {
        char c = **s;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0)
            return v;
        v = v * 16 + (u32)d;
    }
}

__attribute__((constructor)) static void init(void) {
    real_mmap64 = (void *(*)(void *, u32, int, int, int, u64))dlsym((void *)-1, "mmap64");
    real_munmap = (int (*)(void *, u32))dlsym((void *)-1, "munmap");
    real_sigaction = (int (*)(int, const void *, void *))dlsym((void *)-1, "sigaction");
    static char maps[1 << 16];
    int fd = open("/proc/self/maps", 0), n = 0, r;
    while (fd >= 0 && n < (int)sizeof maps - 1 && (r = read(fd, maps + n, sizeof maps - 1 - n)) > 0)
        n += r;
    if (fd >= 0)
        close(fd);
    maps[n] = 0;
    for (const char *s = maps; *s;) {
        u32 lo = hex(&s);
        ++s;
        u32 hi = hex(&s);
        if (hi > lo)
            mark(lo, hi - lo, 1);
        while (*s && *s++ != '\n') {
        }
    }
}

void *mmap64(void *addr, u32 len, int prot, int flags, int fd, u64 off) {
    if ((flags & NOREPLACE) && any_used((u32)addr, len)) {
        *__errno_location() = EEXIST;
        return FAILED;
    }
    void *p = real_mmap64(addr, len, prot, flags & ~NOREPLACE, fd, off);
    if (p != FAILED && (flags & NOREPLACE) && p != addr) {
        real_munmap(p, len);
        *__errno_location() = EEXIST;
        return FAILED;
    }
    if (p != FAILED)
        mark((u32)p, len, 1);
    return p;
}

void *mmap(void *addr, u32 len, int prot, int flags, int fd, int off) {
    return mmap64(addr, len, prot, flags, fd, (u64)(u32)off);
}

int munmap(void *addr, u32 len) {
    int r = real_munmap(addr, len);
    if (r == 0)
        mark((u32)addr, len, 0);
    return r;
}

enum { SIGSEGV = 11, SEGV_ACCERR = 2, TRAP_PROTFLT = 13, TRAP_PAGEFLT = 14, TRAPNO_OFFSET = 68 };

static void segv(int sig, void *info, void *ucontext) {
    u32 *trapno = (u32 *)((char *)ucontext + TRAPNO_OFFSET);
    int code = ((int *)info)[2];
    if (*trapno == 0xffffffffu)
        *trapno = code >= 1 && code <= SEGV_ACCERR ? TRAP_PAGEFLT : TRAP_PROTFLT;
    wine_segv(sig, info, ucontext);
}

/* Layout of struct sigaction on i386: handler, mask (128 bytes), flags, restorer. */
struct action {
    void *handler;
    u32 mask[32];
    int flags;
    void *restorer;
};

int sigaction(int sig, const void *act, void *old) {
    const struct action *a = act;
    if (sig != SIGSEGV || !a || (u32)a->handler <= 1)
        return real_sigaction(sig, act, old);
    struct action mine = *a;
    wine_segv = (void (*)(int, void *, void *))a->handler;
    mine.handler = (void *)segv;
    return real_sigaction(sig, &mine, old);
}
