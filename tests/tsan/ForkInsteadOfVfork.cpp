// Preloaded into the tests of the ThreadSanitizer build. QProcess starts its
// children with a vfork-style clone that the sanitizer does not see; after the
// first one it reports nothing more in the parent. Turning such clones into a
// plain fork, which it does see, keeps it reporting. The child runs the same
// function; a pid file descriptor, when asked for, is opened afterwards.
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <dlfcn.h>

namespace {
using CloneFunction = int (*)(int (*)(void *), void *, int, void *, ...);
}

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list rest;
    va_start(rest, arg);
    void *parentTid = va_arg(rest, void *);
    void *tls = va_arg(rest, void *);
    void *childTid = va_arg(rest, void *);
    va_end(rest);

    constexpr int vforkFlags = CLONE_VM | CLONE_VFORK;
    if ((flags & vforkFlags) == vforkFlags) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(fn(arg));
        if (pid > 0 && (flags & CLONE_PIDFD) && parentTid)
            *static_cast<int *>(parentTid) = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        return pid;
    }
    static const auto next = reinterpret_cast<CloneFunction>(dlsym(RTLD_NEXT, "clone"));
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
