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

} // namespace

void* findX11Symbol (const char* name)
{
    // JUCE loads libX11 itself at run time; so does the tool, rather than linking it.
    static void* const library = ::dlopen ("libX11.so.6", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    return library != nullptr ? ::dlsym (library, name) : nullptr;
}

bool createWindowManagerAtoms()
{
    using OpenDisplay = Display* (*)(const char*);
    using InternAtom = Atom (*) (Display*, const char*, Bool);
    using Sync = int (*) (Display*, Bool);

    auto* openDisplay = findX11Function<OpenDisplay> ("XOpenDisplay");
    auto* internAtom = findX11Function<InternAtom> ("XInternAtom");
    auto* sync = findX11Function<Sync> ("XSync");
    if (openDisplay == nullptr || internAtom == nullptr || sync == nullptr)
        return false;

    // Atoms live as long as the server has a client; this connection stays open until exit.
    static Display* const display = openDisplay (nullptr);
    if (display == nullptr)
        return false;

    // The atoms JUCE only looks up (never creates), as a window manager would have made them.
    for (const char* name :
         {"WM_STATE", "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "_NET_WM_PING",
          "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_STATE",
          "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_FULLSCREEN", "_NET_WM_ALLOWED_ACTIONS", "_NET_FRAME_EXTENTS",
          "_NET_WORKAREA", "_MOTIF_WM_HINTS", "_WIN_HINTS", "KWM_WIN_DECORATION",
          "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE"})
        internAtom (display, name, False);

    sync (display, False);
    return true;
}

void installCountingXErrorHandler()
{
    using SetErrorHandler = XErrorHandler (*) (XErrorHandler);
    if (auto* setHandler = findX11Function<SetErrorHandler> ("XSetErrorHandler"))
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
