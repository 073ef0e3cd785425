// Built only with ThreadSanitizer (BRELLIUM_TSAN) and linked whole into every
// program, test and peer of that build, so that the processes our tests start
// through QProcess survive the sanitizer.
//
// Qt 6.4 starts a child with clone(CLONE_VM | CLONE_VFORK): the child borrows
// the parent's memory until it execs. Clang 14's sanitizer handles every
// clone() as a fork(): it detaches the calling thread's state before the call
// and attaches it again after it, in the child and in the parent. With the
// memory shared, the child's attach is the parent's too, and the parent's own
// attach then fails a check of the runtime ("!thr->slot"): the test aborts
// on its first child. The sanitizer treats vfork() the same way for the same
// reason (the child runs code that would change the parent's state), turning
// it into a fork; this does the same for a vfork-like clone: the child gets a
// copy of the memory, the sanitizer's own fork handling runs as for fork()
// (the child ignores everything until its exec), and the parent still waits
// for the child's exec as Qt expects. What the child does is unchanged.
#include <cstdarg>

#include <sched.h>
#include <sys/types.h>

// The sanitizer's own clone(), which takes the place of the C library's.
extern "C" int __interceptor_clone(int (*fn)(void *), void *stack, int flags, void *arg, int *parentTid,
                                   void *tls, pid_t *childTid);

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list more;
    va_start(more, arg);
    int *parentTid = va_arg(more, int *);
    void *tls = va_arg(more, void *);
    pid_t *childTid = va_arg(more, pid_t *);
    va_end(more);
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK))
        flags &= ~CLONE_VM;
    return __interceptor_clone(fn, stack, flags, arg, parentTid, tls, childTid);
}
