#include "XErrorHandling.h"

#include <X11/Xlib.h>
#include <atomic>
#include <dlfcn.h>
#include <string>

namespace varnelle::hostcheck
{
namespace
{
std::atomic<int> numXErrors{0};

// Counts per (error code, request code), so that the summary can say which requests fail.
constexpr int maxKinds = 16;
std::atomic<int> kindCodes[maxKinds];
std::atomic<int> kindCounts[maxKinds];

int countXError (Display*, XErrorEvent* event)
{
    ++numXErrors;
    const int code = event != nullptr ? ((int)event->error_code << 8) | (int)event->request_code : 0;

    for (int i = 0; i < maxKinds; ++i)
    {
        int expected = 0;
        if (kindCodes[i].load() == code + 1 || kindCodes[i].compare_exchange_strong (expected, code + 1))
        {
            ++kindCounts[i];
            break;
        }
    }

    return 0;
}

using SetErrorHandler = XErrorHandler (*) (XErrorHandler);

SetErrorHandler findSetErrorHandler()
{
    // JUCE loads libX11 itself at run time; so does the tool, rather than linking it.
    static void* const library = ::dlopen ("libX11.so.6", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    return library != nullptr ? reinterpret_cast<SetErrorHandler> (::dlsym (library, "XSetErrorHandler"))
                              : nullptr;
}
} // namespace

void installCountingXErrorHandler()
{
    if (auto* setHandler = findSetErrorHandler())
        setHandler (countXError);
}

int getNumXErrors()
{
    return numXErrors.load();
}

std::string describeXErrors()
{
    std::string text;

    for (int i = 0; i < maxKinds && kindCodes[i].load() != 0; ++i)
    {
        const int code = kindCodes[i].load() - 1;
        text += (text.empty() ? "" : ", ") + std::to_string (kindCounts[i].load()) + " x error " +
                std::to_string (code >> 8) + " (request " + std::to_string (code & 0xff) + ")";
    }

    return text;
}

} // namespace varnelle::hostcheck
