/* LD_PRELOAD library for the i386 root (built freestanding by the host's gcc -m32).
 *
 * qemu's user mode writes trapno = -1 into i386 signal frames, and Wine's i386 signal
 * handler derives the Windows exception code from trapno: an access violation would
 * arrive as an illegal instruction, a division by zero as an overflow. This wraps the
 * handlers installed for SIGSEGV, SIGBUS and SIGFPE and, only where trapno is -1, fills
 * in what the kernel would have written. Test equipment only; nothing of it ships. */

#define SIGBUS 7
#define SIGFPE 8
#define SIGSEGV 11
#define SA_SIGINFO 4
#define SI_KERNEL 0x80
#define FPE_INTDIV 1
#define FPE_INTOVF 2
#define REG_TRAPNO 12
#define TRAP_DIVIDE 0
#define TRAP_OVERFLOW 4
#define TRAP_PROTECTION 13
#define TRAP_PAGE_FAULT 14
#define TRAP_FPU 16

typedef void (*info_handler)(int, void *, void *);

/* glibc's i386 struct sigaction. */
struct glibc_sigaction {
  info_handler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

struct glibc_siginfo {
  int signo, error, code;
};

/* i386 ucontext_t up to the general registers. */
struct glibc_ucontext {
  unsigned long flags;
  void *link;
  void *stack_pointer;
  int stack_flags;
  unsigned long stack_size;
  int gregs[19];
};

extern void *dlsym(void *handle, const char *name);
#define RTLD_NEXT ((void *)-1l)

typedef int (*sigaction_function)(int, const struct glibc_sigaction *, struct glibc_sigaction *);

static volatile info_handler installed[32];

static int fixed(int sig) { return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE; }

static void mend_trapno(int sig, void *info_pointer, void *context) {
  struct glibc_siginfo *info = info_pointer;
  struct glibc_ucontext *uc = context;
  if (uc && info && uc->gregs[REG_TRAPNO] == -1) {
    if (sig == SIGFPE)
      uc->gregs[REG_TRAPNO] = info->code == FPE_INTDIV   ? TRAP_DIVIDE
                              : info->code == FPE_INTOVF ? TRAP_OVERFLOW
                                                         : TRAP_FPU;
    else
      uc->gregs[REG_TRAPNO] = info->code == SI_KERNEL ? TRAP_PROTECTION : TRAP_PAGE_FAULT;
  }
  installed[sig](sig, info_pointer, context);
}

int sigaction(int sig, const struct glibc_sigaction *act, struct glibc_sigaction *old) {
  static sigaction_function next;
  if (!next) next = (sigaction_function)dlsym(RTLD_NEXT, "sigaction");
  if (!fixed(sig) || !act || !(act->flags & SA_SIGINFO) || (unsigned long)act->handler <= 1) {
    int result = next(sig, act, old);
    if (result == 0 && old && fixed(sig) && old->handler == mend_trapno) old->handler = installed[sig];
    if (result == 0 && act && fixed(sig)) installed[sig] = 0;
    return result;
  }
  info_handler previous = installed[sig];
  installed[sig] = act->handler;
  struct glibc_sigaction wrapped = *act;
  wrapped.handler = mend_trapno;
  int result = next(sig, &wrapped, old);
  if (result != 0) installed[sig] = previous;
  else if (old && old->handler == mend_trapno) old->handler = previous;
  return result;
}
