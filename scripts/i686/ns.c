/* The i686 test equipment's namespace launcher (host program, run as real root).
 *
 *   parleym-ns session QEMU COMMAND [ARGS...]
 *     runs COMMAND as root of a new user namespace with its own mount and PID
 *     namespaces, where a private binfmt_misc hands every i386 executable to QEMU.
 *     Nothing changes on the host; when COMMAND ends, every process it left (Wine's
 *     included) ends with the namespace.
 *   parleym-ns enter ROOT DIR PROGRAM [ARGS...]
 *     inside a session: chroot to ROOT, change to DIR there (or / when it is missing)
 *     and run PROGRAM from the root's PATH, with the caller's environment
 *     (PARLEYM_PRELOAD becomes LD_PRELOAD there).
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

/* Debian's qemu-user-binfmt entry for i386: ELF, 32-bit, little-endian, executable or
 * shared object, machine 3. O: qemu gets the opened file; P: argv[0] kept; F: qemu is
 * opened now, so it is found from inside any chroot. */
static const char i386_magic[] =
    "\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00";
static const char i386_mask[] =
    "\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff";

static void die(const char *what) {
  fprintf(stderr, "parleym-ns: %s: %s\n", what, strerror(errno));
  exit(125);
}

static void write_file(const char *path, const char *text) {
  int fd = open(path, O_WRONLY);
  if (fd < 0) die(path);
  if (write(fd, text, strlen(text)) != (ssize_t)strlen(text)) die(path);
  close(fd);
}

static int wait_status(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) die("waitpid");
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/* PID 1 of the new namespace: runs the command, reaps orphans, ends with the command. */
static int namespace_init(const char *qemu, char **command) {
  if (mount(NULL, "/", NULL, MS_REC | MS_PRIVATE, NULL) < 0) die("making / private");
  if (mount("binfmt_misc", "/proc/sys/fs/binfmt_misc", "binfmt_misc", 0, NULL) < 0)
    die("mounting binfmt_misc (Linux 6.7 or later needed)");
  char entry[1024];
  snprintf(entry, sizeof entry, ":parleym-i386:M::%s:%s:%s:OPF", i386_magic, i386_mask, qemu);
  write_file("/proc/sys/fs/binfmt_misc/register", entry);
  /* This namespace's own process list, so programs inside see their own numbers. */
  if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, NULL) < 0) die("mounting /proc");
  pid_t child = fork();
  if (child < 0) die("fork");
  if (child == 0) {
    execvp(command[0], command);
    die(command[0]);
  }
  for (;;) {
    int status;
    pid_t ended = wait(&status);
    if (ended == child)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (ended < 0 && errno != EINTR) die("wait");
  }
}

static pid_t session_child;

static void end_session(int sig) {
  if (session_child > 0) kill(session_child, SIGKILL);
  _exit(128 + sig);
}

static int session(const char *qemu, char **command) {
  if (getuid() != 0) {
    fprintf(stderr, "parleym-ns: must run as root\n");
    return 125;
  }
  int unshared[2], mapped[2];
  if (pipe(unshared) < 0 || pipe(mapped) < 0) die("pipe");
  pid_t parent = getpid();
  session_child = fork();
  if (session_child < 0) die("fork");
  if (session_child == 0) {
    if (unshare(CLONE_NEWUSER) < 0) die("unshare(user)");
    char byte = 1;
    if (write(unshared[1], &byte, 1) != 1 || read(mapped[0], &byte, 1) != 1) die("pipe");
    if (setresgid(0, 0, 0) < 0 || setgroups(0, NULL) < 0 || setresuid(0, 0, 0) < 0) die("becoming root");
    /* Whatever ends the caller ends the namespace too (set after the change of ids,
     * which may clear it). */
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    if (unshare(CLONE_NEWNS | CLONE_NEWPID) < 0) die("unshare(mount, pid)");
    pid_t init = fork();
    if (init < 0) die("fork");
    if (init == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      _exit(namespace_init(qemu, command));
    }
    _exit(wait_status(init));
  }
  char byte;
  if (read(unshared[0], &byte, 1) != 1) die("child ended before its namespace was made");
  char path[64];
  /* Many ids, as dpkg hands files to system users; util-linux would need newuidmap. */
  snprintf(path, sizeof path, "/proc/%d/uid_map", (int)session_child);
  write_file(path, "0 0 65536\n");
  snprintf(path, sizeof path, "/proc/%d/gid_map", (int)session_child);
  write_file(path, "0 0 65536\n");
  if (write(mapped[1], &byte, 1) != 1) die("pipe");
  signal(SIGINT, end_session);
  signal(SIGTERM, end_session);
  signal(SIGHUP, end_session);
  return wait_status(session_child);
}

static int enter(const char *root, const char *dir, char **command) {
  if (chroot(root) < 0) die(root);
  if (chdir(dir) < 0 && chdir("/") < 0) die("chdir");
  /* Named otherwise until now: the host's loader would try it for this program. */
  const char *preload = getenv("PARLEYM_PRELOAD");
  if (preload) {
    setenv("LD_PRELOAD", preload, 1);
    unsetenv("PARLEYM_PRELOAD");
  }
  execvp(command[0], command);
  die(command[0]);
  return 125;
}

int main(int argc, char **argv) {
  if (argc >= 4 && strcmp(argv[1], "session") == 0) return session(argv[2], argv + 3);
  if (argc >= 5 && strcmp(argv[1], "enter") == 0) return enter(argv[2], argv[3], argv + 4);
  fprintf(stderr, "usage: parleym-ns session QEMU COMMAND [ARGS...]\n"
                  "       parleym-ns enter ROOT DIR PROGRAM [ARGS...]\n");
  return 2;
}
