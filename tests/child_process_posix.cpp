#include "child_process.h"

#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

int RunSiblingProgram(const char* program, const char* const* args, uint32_t timeoutMs)
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return -1;
    path[n] = '\0';
    char* slash = strrchr(path, '/');
    if (slash == nullptr || (size_t)(slash + 1 - path) + strlen(program) + 1 > sizeof(path))
        return -1;
    strcpy(slash + 1, program);

    char* argv[32];
    int argc = 0;
    argv[argc++] = path;
    for (const char* const* a = args; a != nullptr && *a != nullptr && argc < 31; ++a)
        argv[argc++] = const_cast<char*>(*a);
    argv[argc] = nullptr;

    pid_t pid;
    if (posix_spawn(&pid, path, nullptr, nullptr, argv, environ) != 0)
        return -1;
    for (uint32_t waited = 0;; waited += 5) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (waited >= timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        struct timespec t = { 0, 5000000 };
        nanosleep(&t, nullptr);
    }
}
