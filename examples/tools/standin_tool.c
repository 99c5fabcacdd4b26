/* A stand-in for the server's transfer tools (cvcp, cvcp4, cvsync, cvcmd).
 *
 * The real tools are separate programs; the shell only starts them and waits
 * for them.  This stand-in lets the example installation and the tests see
 * what the shell hands a tool: it prints the name it was started under, its
 * arguments, the environment values the shell sets, and then reads standard
 * input to its end and prints how many bytes it read and their FNV-1a
 * checksum.  CV_STANDIN_EXIT sets its exit code; CV_STANDIN_PRINT_ENV=1 makes
 * it print its whole environment as well.
 *
 * For tests of how a tool ends: CV_STANDIN_SIGNAL=N makes it end by signal N
 * instead of exiting.  CV_STANDIN_AWAIT_SIGNAL=FILE makes it write
 * "pid=<its pid>" into FILE (whole, through a rename) and wait up to 30
 * seconds for a hang-up, interrupt, quit or terminate signal; it appends
 * "signal=N" to FILE when one comes and then ends by that signal, or exits
 * with CV_STANDIN_SIGNAL_EXIT when that is set.  Without a signal it exits
 * with 124. */
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char **environ;

static void print_variable(const char *name) {
    const char *value = getenv(name);
    printf("%s=%s\n", name, value ? value : "<unset>");
}

/* Ends the process by signal `sig` at its default action. */
static void end_by_signal(int sig) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    signal(sig, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &set, NULL);
    raise(sig);
    fprintf(stderr, "signal %d did not end the stand-in\n", sig);
    exit(125);
}

/* Announces its pid in `file`, waits for a termination signal and records
 * it.  The signal, or 0 when none came in time. */
static int await_signal(const char *file) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGQUIT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, NULL);

    char part[4096];
    snprintf(part, sizeof part, "%s.part", file);
    FILE *f = fopen(part, "w");
    if (!f) return 0;
    fprintf(f, "pid=%ld\n", (long)getpid());
    fclose(f);
    if (rename(part, file) != 0) return 0;

    struct timespec limit = {30, 0};
    int sig = sigtimedwait(&set, NULL, &limit);
    if (sig <= 0) return 0;
    f = fopen(file, "a");
    if (f) {
        fprintf(f, "signal=%d\n", sig);
        fclose(f);
    }
    return sig;
}

int main(int argc, char **argv) {
    const char *name = strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    printf("%s: stand-in transfer tool\n", name);
    printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) printf("argv[%d]=%s\n", i, argv[i]);
    print_variable("CORVANE_SHELL");
    print_variable("CORVANE_AUTH_TOKEN");
    print_variable("PATH");
    const char *print_env = getenv("CV_STANDIN_PRINT_ENV");
    if (print_env && strcmp(print_env, "1") == 0)
        for (char **e = environ; *e; ++e) printf("env: %s\n", *e);
    fflush(stdout);

    uint64_t hash = 1469598103934665603ULL;
    unsigned long long total = 0;
    unsigned char buffer[65536];
    for (;;) {
        ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            hash ^= buffer[i];
            hash *= 1099511628211ULL;
        }
        total += (unsigned long long)n;
    }
    printf("stdin_bytes=%llu\n", total);
    printf("stdin_fnv1a64=%016llx\n", (unsigned long long)hash);
    fflush(stdout);

    const char *await_file = getenv("CV_STANDIN_AWAIT_SIGNAL");
    if (await_file) {
        int sig = await_signal(await_file);
        if (sig == 0) return 124;
        const char *signal_exit = getenv("CV_STANDIN_SIGNAL_EXIT");
        if (signal_exit) return atoi(signal_exit);
        end_by_signal(sig);
    }
    const char *end_signal = getenv("CV_STANDIN_SIGNAL");
    if (end_signal) end_by_signal(atoi(end_signal));

    const char *code = getenv("CV_STANDIN_EXIT");
    return code ? atoi(code) : 0;
}
