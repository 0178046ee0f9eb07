/* Runs a 32-bit x86 Linux program under qemu-i386 user emulation, for kernels
 * that cannot execute 32-bit programs themselves. scripts/setup registers it
 * with binfmt_misc as the interpreter of i386 ELF files, so 32-bit test
 * binaries, tools and Wine start transparently.
 *
 * LeakSanitizer cannot stop the world under user-mode emulation and would hang
 * at exit, so leak detection is turned off unless ASAN_OPTIONS already says
 * otherwise; the tests account for heap blocks themselves. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const char* asan = getenv("ASAN_OPTIONS");
    if (asan == NULL || strstr(asan, "detect_leaks") == NULL) {
        char buffer[4096];
        snprintf(buffer, sizeof buffer, "%s%sdetect_leaks=0", asan ? asan : "",
                 (asan && *asan) ? ":" : "");
        setenv("ASAN_OPTIONS", buffer, 1);
    }
    char** args = calloc((size_t)argc + 2, sizeof(char*));
    if (args == NULL) return 2;
    args[0] = (char*)"qemu-i386-static";
    for (int i = 1; i < argc; ++i) args[i] = argv[i];
    execv("/usr/bin/qemu-i386-static", args);
    perror("kvq-i386-run: /usr/bin/qemu-i386-static");
    return 127;
}
