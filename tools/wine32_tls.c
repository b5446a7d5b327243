/* Loaded into every 32-bit Wine process that runs under qemu-i386 (through
 * the emulator root's /etc/ld.so.preload, which no native program reads);
 * built by tools/setup_wine32.sh with the host compiler (-m32, no C library
 * at link time).
 *
 * qemu-i386 keeps one descriptor table for all threads of a process, while
 * Linux keeps the thread-local entries (set_thread_area) per thread. Every
 * new thread therefore overwrites the entry behind %gs (the C library's
 * thread data) and behind Wine's %fs (the TEB) for all threads, and a thread
 * that loads the selector again gets the newest thread's base. Wine loads
 * both in its signal handlers, and the emulator loads them on the return
 * from every signal: a thread that takes a signal after another thread was
 * created then runs on foreign thread data, loses its link to the wineserver
 * or faults in the handler.
 *
 * - %fs: the free thread-local entries are taken before Wine starts, so that
 *   Wine gives each thread a TEB selector of its own in the LDT instead.
 * - %gs: every signal handler is entered through a trampoline that writes
 *   this thread's base (still loaded at entry: %gs:0 points to itself) back
 *   into the shared entry before the handler runs and before the return. */
typedef void (*handler_fn)(int, void *, void *);

/* struct sigaction of the i386 C library. */
struct libc_sigaction {
    handler_fn handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};

struct user_desc {
    unsigned int entry_number;
    unsigned int base_addr;
    unsigned int limit;
    unsigned int flags; /* seg_32bit, contents:2, read_exec_only, limit_in_pages, seg_not_present, useable */
};

enum { kSeg32Bit = 1, kLimitInPages = 1 << 4, kUseable = 1 << 6, kSetThreadArea = 243 };

typedef int (*sigaction_fn)(int, const struct libc_sigaction *, struct libc_sigaction *);
extern void *dlsym(void *, const char *);
#define NEXT_SYMBOL ((void *)-1L)

static int set_thread_area(struct user_desc *desc) {
    int result;
    __asm__ __volatile__("pushl %%ebx\n\tmovl %2, %%ebx\n\tint $0x80\n\tpopl %%ebx"
                         : "=a"(result)
                         : "0"(kSetThreadArea), "r"(desc)
                         : "memory");
    return result;
}

/* Wine keeps a %fs the preloader set up: none, and no free entry left. */
__attribute__((constructor)) static void take_free_entries(void) {
    __asm__ __volatile__("movw %w0, %%fs" : : "r"(0));
    for (int i = 0; i < 8; ++i) {
        struct user_desc desc = {0xffffffffu, 0, 0xfff, kSeg32Bit | kUseable};
        if (set_thread_area(&desc) < 0) break;
    }
}

static handler_fn handlers[65];

static void restore_gs_entry(unsigned int selector, unsigned int base) {
    if (selector & 4) return; /* an LDT selector is this thread's own */
    struct user_desc desc = {selector >> 3, base, 0xfffff, kSeg32Bit | kLimitInPages | kUseable};
    set_thread_area(&desc);
}

static void trampoline(int sig, void *info, void *context) {
    unsigned int selector = 0, base = 0;
    __asm__ __volatile__("movw %%gs, %w0" : "=r"(selector));
    __asm__ __volatile__("movl %%gs:0, %0" : "=r"(base));
    restore_gs_entry(selector, base);
    handlers[sig](sig, info, context);
    restore_gs_entry(selector, base);
}

int sigaction(int sig, const struct libc_sigaction *act, struct libc_sigaction *old) {
    static sigaction_fn next;
    if (!next) next = (sigaction_fn)dlsym(NEXT_SYMBOL, "sigaction");
    if (sig <= 0 || sig > 64) return next(sig, act, old);
    handler_fn previous = handlers[sig];
    int result;
    if (act && (unsigned long)act->handler > 1) { /* neither SIG_DFL nor SIG_IGN */
        struct libc_sigaction wrapped = *act;
        wrapped.handler = trampoline;
        result = next(sig, &wrapped, old);
        if (result == 0) handlers[sig] = act->handler;
    } else {
        result = next(sig, act, old);
        if (result == 0 && act) handlers[sig] = 0;
    }
    if (result == 0 && old && old->handler == trampoline) old->handler = previous;
    return result;
}
