// fsync and fdatasync of the whole executable (the SQLite library's too) go
// through these, which count the calls and pass them on to the C library.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>

#include "bench/support/ModeBenchSupport.h"

namespace {

std::atomic<long> syncCalls{0};

using TSyncFn = int (*)(int);

TSyncFn Next(const char* name) { return reinterpret_cast<TSyncFn>(::dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" int fsync(int fd)
{
    static const TSyncFn next = Next("fsync");
    syncCalls.fetch_add(1, std::memory_order_relaxed);
    return next(fd);
}

extern "C" int fdatasync(int fd)
{
    static const TSyncFn next = Next("fdatasync");
    syncCalls.fetch_add(1, std::memory_order_relaxed);
    return next(fd);
}

long modebench::SyncCalls() { return syncCalls.load(std::memory_order_relaxed); }
