#pragma once

// An allocator that refuses the Nth allocation of the process once armed, for the test of
// running out of memory at every allocation in turn. Included by that test alone: it replaces
// malloc and its kin for the whole program.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_OWN_ALLOCATOR 1 // the sanitizer's allocator must see every block
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_OWN_ALLOCATOR 1
#endif
#endif

namespace {
// 0: nothing fails; otherwise the allocations left until the one that fails.
std::atomic<long> countdown{0};
std::atomic<bool> failed{false};
// Rows announced to the views and not yet there, on the window's thread.
int announcing = 0;
long allocatedWhileAnnounced = 0;
std::atomic<long> grantedToQt{0};
thread_local bool windowThread = false;
// QUORVEL_SWEEP_TRACE set: where each refused allocation was asked for, on standard error.
bool trace = false;

// Whether one of the frames on the stack is a function whose name begins with one of these.
template <std::size_t N> bool within(const char *const (&names)[N]) {
    void *frames[64];
    const int depth = backtrace(frames, 64);
    for (int i = 0; i < depth; ++i) {
        Dl_info info;
        if (dladdr(frames[i], &info) && info.dli_sname)
            for (const char *name : names)
                if (std::strncmp(info.dli_sname, name, std::strlen(name)) == 0)
                    return true;
    }
    return false;
}

// Where Qt cannot do without the memory: the model's begin... calls (a change once begun can
// only be told in full; the program makes room for its part before), its own bookkeeping and
// the item views' (QItemSelection writes through the null a refused allocation gives it,
// QPersistentModelIndex leaves the model's table of them broken, QHeaderView measures its
// text with a layout that writes through the null), QByteArray's copy of raw bytes (writes
// through the null too) and QFileInfo (ends the program: built without exceptions).
bool qtCannotFail() {
    static constexpr const char *Owners[] = {"_ZN18QAbstractItemModel15begin",
                                             "_ZN25QAbstractItemModelPrivate",
                                             "_ZN17QAbstractItemView",
                                             "_ZN14QItemSelection",
                                             "_ZN19QItemSelectionModel",
                                             "_ZN21QPersistentModelIndex",
                                             "_ZN26QPersistentModelIndexData",
                                             "_ZN10QByteArrayC1EPKcx",
                                             "_ZN10QByteArrayC2EPKcx",
                                             "_ZN9QFileInfo",
                                             "_ZN11QHeaderView",
                                             "_ZNK11QHeaderView"};
    return within(Owners);
}

// Whether Qt is telling of a change, rather than the program making it.
bool toldByQt() {
    static constexpr const char *Model[] = {"_ZN18QAbstractItemModel",
                                            "_ZN25QAbstractItemModelPrivate"};
    return within(Model);
}

[[maybe_unused]] bool refuse() {
    long left = countdown.load(std::memory_order_relaxed);
    if (left <= 0)
        return false;
    if (windowThread && announcing > 0 && !toldByQt())
        ++allocatedWhileAnnounced;
    while (left > 0) {
        if (left == 1 && qtCannotFail()) {
            ++grantedToQt; // the next allocation is the one refused
            return false;
        }
        if (countdown.compare_exchange_weak(left, left - 1)) {
            if (left != 1)
                return false;
            failed = true;
            if (trace) {
                void *frames[64];
                backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
            }
            return true;
        }
    }
    return false;
}

void arm(long n) {
    failed = false;
    announcing = 0;
    allocatedWhileAnnounced = 0;
    countdown = n;
}
// Whether the armed allocation was refused.
bool disarm() {
    countdown = 0;
    return failed;
}
} // namespace

#ifndef QUORVEL_OWN_ALLOCATOR
// Every allocation of the process comes here, Qt's containers' (malloc) and operator new's
// (which calls malloc) alike.
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);

void *malloc(std::size_t size) {
    return refuse() ? nullptr : __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) {
    return refuse() ? nullptr : __libc_calloc(count, size);
}
void *realloc(void *block, std::size_t size) {
    return refuse() ? nullptr : __libc_realloc(block, size);
}
void *memalign(std::size_t alignment, std::size_t size) {
    return refuse() ? nullptr : __libc_memalign(alignment, size);
}
void *aligned_alloc(std::size_t alignment, std::size_t size) {
    return memalign(alignment, size);
}
int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
    void *block = memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}
}
#endif
