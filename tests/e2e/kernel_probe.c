/* How this kernel runs a 32-bit program, as one sees it from inside. Prints two words:
 * - the machine the kernel reports: "x86_64" when it runs 32-bit code itself, "i686" when a
 *   binfmt_misc entry hands the program to qemu-i386 (which need not be visible from here:
 *   containers and chroots often hide /proc/sys/fs/binfmt_misc);
 * - "noreplace" when mmap honours MAP_FIXED_NOREPLACE, else "no-noreplace": qemu 7.2 ignores it,
 *   which is what qemu_mmap_shim.c makes up for.
 * A kernel that can run no 32-bit program at all never starts it. Built with no C library, so
 * that any gcc that can emit 32-bit code builds it, without 32-bit libraries installed. */
struct utsname_raw {
    char field[6][65];
};

enum { SYS_exit = 1, SYS_write = 4, SYS_uname = 122, SYS_mmap2 = 192 };
enum { PROT_READ = 1, MAP_PRIVATE_ANONYMOUS = 0x22, MAP_FIXED_NOREPLACE = 0x100000, EEXIST = 17 };

static long sys3(long n, long a, long b, long c) {
    long r;
    __asm__ volatile("int $0x80" : "=a"(r) : "a"(n), "b"(a), "c"(b), "d"(c) : "memory");
    return r;
}

/* mmap2 with a page offset of 0, which goes in ebp. */
static long map(long at, long flags) {
    long r;
    __asm__ volatile("push %%ebp\n\txor %%ebp, %%ebp\n\tint $0x80\n\tpop %%ebp"
                     : "=a"(r)
                     : "a"(SYS_mmap2), "b"(at), "c"(4096), "d"(PROT_READ), "S"(flags), "D"(-1)
                     : "memory");
    return r;
}

void _start(void) {
    struct utsname_raw u;
    char out[96];
    int n = 0;
    if (sys3(SYS_uname, (long)&u, 0, 0) != 0) {
        sys3(SYS_exit, 1, 0, 0);
    }
    for (const char *m = u.field[4]; n < 64 && m[n]; ++n) {
        out[n] = m[n];
    }
    const long first = map(0, MAP_PRIVATE_ANONYMOUS);
    const long again = map(first, MAP_PRIVATE_ANONYMOUS | MAP_FIXED_NOREPLACE);
    for (const char *w = again == -EEXIST ? " noreplace\n" : " no-noreplace\n"; *w; ++w) {
        out[n++] = *w;
    }
    sys3(SYS_exit, sys3(SYS_write, 1, (long)out, n) == n ? 0 : 1, 0, 0);
    for (;;) {
    }
}
