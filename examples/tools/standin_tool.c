/* A stand-in for the server's transfer tools (cvcp, cvcp4, cvsync, cvcmd).
 *
 * The real tools are separate programs; the shell only starts them and waits
 * for them.  This stand-in lets the example installation and the tests see
 * what the shell hands a tool: it prints the name it was started under, its
 * arguments, the environment values the shell sets, and then reads standard
 * input to its end and prints how many bytes it read and their FNV-1a
 * checksum.  CV_STANDIN_EXIT sets its exit code; CV_STANDIN_PRINT_ENV=1 makes
 * it print its whole environment as well. */
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

    const char *code = getenv("CV_STANDIN_EXIT");
    return code ? atoi(code) : 0;
}
