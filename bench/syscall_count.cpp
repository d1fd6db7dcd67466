#include "syscall_count.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

const uint32_t FEW = 200;
const uint32_t MANY = 1200;
const char* const CLOCK_SYSCALL_ENV = "OVALIX_CLOCK_SYSCALL";

typedef std::map<std::string, double> Counts;

// strace -c's table: "% time seconds usecs/call calls [errors] syscall".
bool CountCalls(const char* program, uint32_t frames, Counts& out)
{
    char summary[] = "/tmp/ovalix-syscalls-XXXXXX";
    int fd = mkstemp(summary);
    if (fd < 0)
        return false;
    close(fd);
    char command[8192];
    snprintf(command, sizeof command,
             "%s=1 strace -f -c -o %s %s %s %u >/dev/null 2>&1", CLOCK_SYSCALL_ENV, summary,
             program, COUNT_FRAMES_FLAG, frames);
    bool ok = system(command) == 0;
    FILE* f = fopen(summary, "r");
    char line[512];
    while (ok && f != nullptr && fgets(line, sizeof line, f) != nullptr) {
        char* words[8];
        int n = 0;
        for (char* w = strtok(line, " \t\n"); w != nullptr && n < 8; w = strtok(nullptr, " \t\n"))
            words[n++] = w;
        if ((n == 5 || n == 6) && strcmp(words[n - 1], "total") != 0 && words[0][0] != '%')
            out[words[n - 1]] += atof(words[3]);
    }
    if (f != nullptr)
        fclose(f);
    unlink(summary);
    return ok;
}

}  // namespace

// The project's code reads the clock through clock_gettime; in the counting
// child every such read is made the system call it is on a machine without
// the vDSO clock, so that strace sees it.
extern "C" int clock_gettime(clockid_t clock, struct timespec* now)
{
    static const bool asSystemCall = getenv(CLOCK_SYSCALL_ENV) != nullptr;
    if (asSystemCall)
        return (int)syscall(SYS_clock_gettime, clock, now);
    typedef int (*Real)(clockid_t, struct timespec*);
    static const Real real = (Real)dlsym(RTLD_NEXT, "clock_gettime");
    return real(clock, now);
}

void PrintSystemCallsPerFrame(const char* what)
{
    char program[4096];
    ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
    if (n <= 0 || system("command -v strace >/dev/null 2>&1") != 0) {
        printf("%s: system calls per frame not counted (needs strace)\n", what);
        return;
    }
    program[n] = '\0';
    Counts few, many;
    if (!CountCalls(program, FEW, few) || !CountCalls(program, MANY, many)) {
        printf("%s: system calls per frame not counted (the counting run failed)\n", what);
        return;
    }
    printf("%s: system calls per frame (strace -c -f, clock reads as system calls):", what);
    double total = 0;
    for (const auto& c : many) {
        double perFrame = (c.second - few[c.first]) / (double)(MANY - FEW);
        if (perFrame < 0.005)
            continue;
        total += perFrame;
        printf(" %s %.2f", c.first.c_str(), perFrame);
    }
    printf(" total %.2f\n", total);
}
