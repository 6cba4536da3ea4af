#include "AllocationCounter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNELLE_HOSTCHECK_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VARNELLE_HOSTCHECK_SANITIZER 1
#endif
#endif

#include <dlfcn.h>
#include <execinfo.h>

namespace
{
// Zero-initialised TLS of the executable itself: reading it never allocates, so it is safe to
// use inside malloc.
thread_local bool countingOnThisThread = false;
std::atomic<std::int64_t> countedAllocations{0};

std::atomic<std::int64_t> separatelyCountedAllocations{0};

// Where the first counted allocation came from. backtrace() loads libgcc's unwinder on first
// use, which allocates, so it is called once before any counting starts.
constexpr int maxFrames = 24;
void* firstAllocationFrames[maxFrames];
std::atomic<int> numFirstAllocationFrames{0};
std::atomic<bool> firstAllocationSeen{false};
[[maybe_unused]] const int unwinderLoaded = backtrace (firstAllocationFrames, 1);

std::atomic<std::uintptr_t> separateBegin{0}, separateEnd{0}, ownBegin{0}, ownEnd{0};

bool comesFromSeparatelyCountedCaller (void* const* frames, int numFrames) noexcept
{
    for (int i = 0; i < numFrames; ++i)
    {
        const auto address = (std::uintptr_t)frames[i];
        if (address >= ownBegin.load() && address < ownEnd.load())
            return false;
        if (address >= separateBegin.load() && address < separateEnd.load())
            return true;
    }

    return false;
}

thread_local bool insideNote = false;

inline void noteAllocation() noexcept
{
    if (!countingOnThisThread || insideNote)
        return;

    // Should the unwinder ever allocate, that allocation is not noted again.
    insideNote = true;
    void* frames[maxFrames];
    const int numFrames = backtrace (frames, maxFrames);
    insideNote = false;

    if (separateEnd.load() != 0 && comesFromSeparatelyCountedCaller (frames, numFrames))
    {
        separatelyCountedAllocations.fetch_add (1, std::memory_order_relaxed);
        return;
    }

    countedAllocations.fetch_add (1, std::memory_order_relaxed);

    if (!firstAllocationSeen.exchange (true))
    {
        std::copy_n (frames, numFrames, firstAllocationFrames);
        numFirstAllocationFrames = numFrames;
    }
}
} // namespace

#if VARNELLE_HOSTCHECK_SANITIZER

// The sanitizer owns malloc and operator new; its allocator calls these hooks for both.
extern "C" int __sanitizer_install_malloc_and_free_hooks (void (*mallocHook) (const volatile void*, size_t),
                                                          void (*freeHook) (const volatile void*));

namespace
{
void onSanitizerMalloc (const volatile void*, size_t)
{
    noteAllocation();
}
void onSanitizerFree (const volatile void*) {}

const bool hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks (onSanitizerMalloc, onSanitizerFree) != 0;
} // namespace

const char* varnelle::hostcheck::getAllocationCountingMethod() noexcept
{
    return hooksInstalled ? "sanitizer allocator hooks" : "none (the sanitizer refused the hooks)";
}

#else

// glibc's allocator under its exported internal names. Defining malloc and friends in the
// executable replaces them for every library of the process, the plug-ins included.
extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void* __libc_memalign (size_t, size_t);
    void* __libc_valloc (size_t);
    void* __libc_pvalloc (size_t);
    void __libc_free (void*);

    void* malloc (size_t size)
    {
        noteAllocation();
        return __libc_malloc (size);
    }

    void* calloc (size_t count, size_t size)
    {
        noteAllocation();
        return __libc_calloc (count, size);
    }

    void* realloc (void* pointer, size_t size)
    {
        noteAllocation();
        return __libc_realloc (pointer, size);
    }

    void free (void* pointer)
    {
        __libc_free (pointer);
    }

    void* memalign (size_t alignment, size_t size)
    {
        noteAllocation();
        return __libc_memalign (alignment, size);
    }

    void* aligned_alloc (size_t alignment, size_t size)
    {
        noteAllocation();
        return __libc_memalign (alignment, size);
    }

    int posix_memalign (void** result, size_t alignment, size_t size)
    {
        noteAllocation();

        if (alignment == 0 || (alignment & (alignment - 1)) != 0 || alignment % sizeof (void*) != 0)
            return EINVAL;

        void* p = __libc_memalign (alignment, size);
        if (p == nullptr)
            return ENOMEM;

        *result = p;
        return 0;
    }

    void* valloc (size_t size)
    {
        noteAllocation();
        return __libc_valloc (size);
    }

    void* pvalloc (size_t size)
    {
        noteAllocation();
        return __libc_pvalloc (size);
    }
}

namespace
{
void* allocateOrThrow (std::size_t size)
{
    noteAllocation();

    for (;;)
    {
        if (void* p = __libc_malloc (size == 0 ? 1 : size))
            return p;

        auto handler = std::get_new_handler();
        if (handler == nullptr)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateAlignedOrThrow (std::size_t size, std::align_val_t alignment)
{
    noteAllocation();
    const auto align = std::max ((std::size_t)alignment, sizeof (void*));

    for (;;)
    {
        if (void* p = __libc_memalign (align, size == 0 ? 1 : size))
            return p;

        auto handler = std::get_new_handler();
        if (handler == nullptr)
            throw std::bad_alloc();
        handler();
    }
}
} // namespace

// The replaced global operators. Each counts once and goes straight to glibc, so that an
// operator new is not counted a second time as a malloc.
void* operator new (std::size_t size)
{
    return allocateOrThrow (size);
}
void* operator new[] (std::size_t size)
{
    return allocateOrThrow (size);
}
void* operator new (std::size_t size, std::align_val_t a)
{
    return allocateAlignedOrThrow (size, a);
}
void* operator new[] (std::size_t size, std::align_val_t a)
{
    return allocateAlignedOrThrow (size, a);
}

void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return allocateOrThrow (size);
    }
    catch (...)
    {
        return nullptr;
    }
}

void* operator new[] (std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new (size, tag);
}

void* operator new (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    try
    {
        return allocateAlignedOrThrow (size, a);
    }
    catch (...)
    {
        return nullptr;
    }
}

void* operator new[] (std::size_t size, std::align_val_t a, const std::nothrow_t& tag) noexcept
{
    return operator new (size, a, tag);
}

void operator delete (void* p) noexcept
{
    __libc_free (p);
}
void operator delete[] (void* p) noexcept
{
    __libc_free (p);
}
void operator delete (void* p, std::size_t) noexcept
{
    __libc_free (p);
}
void operator delete[] (void* p, std::size_t) noexcept
{
    __libc_free (p);
}
void operator delete (void* p, std::align_val_t) noexcept
{
    __libc_free (p);
}
void operator delete[] (void* p, std::align_val_t) noexcept
{
    __libc_free (p);
}
void operator delete (void* p, std::size_t, std::align_val_t) noexcept
{
    __libc_free (p);
}
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept
{
    __libc_free (p);
}
void operator delete (void* p, const std::nothrow_t&) noexcept
{
    __libc_free (p);
}
void operator delete[] (void* p, const std::nothrow_t&) noexcept
{
    __libc_free (p);
}
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    __libc_free (p);
}
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    __libc_free (p);
}

const char* varnelle::hostcheck::getAllocationCountingMethod() noexcept
{
    return "replaced operator new and malloc";
}

#endif

namespace varnelle::hostcheck
{

void setSeparatelyCountedCaller (std::uintptr_t newSeparateBegin, std::uintptr_t newSeparateEnd,
                                 std::uintptr_t newOwnBegin, std::uintptr_t newOwnEnd) noexcept
{
    separateEnd = 0; // off while the ranges change
    separateBegin = newSeparateBegin;
    ownBegin = newOwnBegin;
    ownEnd = newOwnEnd;
    separateEnd = newSeparateEnd;
}

std::int64_t getSeparatelyCountedAllocations() noexcept
{
    return separatelyCountedAllocations.load (std::memory_order_relaxed);
}

void forgetFirstCountedAllocation() noexcept
{
    numFirstAllocationFrames = 0;
    firstAllocationSeen = false;
}

std::string describeFirstCountedAllocation()
{
    std::string text;
    const int n = numFirstAllocationFrames.load();

    // Frame 0 is noteAllocation's caller inside this file; from there on, module+offset (for
    // addr2line) and the nearest exported symbol.
    for (int i = 1; i < n; ++i)
    {
        Dl_info info{};
        char line[512];

        if (dladdr (firstAllocationFrames[i], &info) != 0 && info.dli_fname != nullptr)
        {
            const char* base = std::strrchr (info.dli_fname, '/');
            std::snprintf (
                line, sizeof (line), "%s+0x%lx%s%s", base != nullptr ? base + 1 : info.dli_fname,
                (unsigned long)((const char*)firstAllocationFrames[i] - (const char*)info.dli_fbase),
                info.dli_sname != nullptr ? " " : "", info.dli_sname != nullptr ? info.dli_sname : "");
        }
        else
        {
            std::snprintf (line, sizeof (line), "%p", firstAllocationFrames[i]);
        }

        text += (text.empty() ? "" : " < ") + std::string (line);
    }

    return text;
}

std::int64_t getCountedAllocations() noexcept
{
    return countedAllocations.load (std::memory_order_relaxed);
}

ScopedAllocationCounting::ScopedAllocationCounting() noexcept
{
    countingOnThisThread = true;
}

ScopedAllocationCounting::~ScopedAllocationCounting() noexcept
{
    countingOnThisThread = false;
}

} // namespace varnelle::hostcheck
