#include "XKeyboard.h"

#include "XErrorHandling.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <utility>
#include <vector>

namespace varnelle::hostcheck
{
namespace
{
struct X11
{
    decltype (&XOpenDisplay) openDisplay = findX11Function<decltype (&XOpenDisplay)> ("XOpenDisplay");
    decltype (&XQueryTree) queryTree = findX11Function<decltype (&XQueryTree)> ("XQueryTree");
    decltype (&XFree) free = findX11Function<decltype (&XFree)> ("XFree");
    decltype (&XSetInputFocus) setInputFocus = findX11Function<decltype (&XSetInputFocus)> ("XSetInputFocus");
    decltype (&XStringToKeysym) stringToKeysym =
        findX11Function<decltype (&XStringToKeysym)> ("XStringToKeysym");
    decltype (&XKeysymToKeycode) keysymToKeycode =
        findX11Function<decltype (&XKeysymToKeycode)> ("XKeysymToKeycode");
    decltype (&XSendEvent) sendEvent = findX11Function<decltype (&XSendEvent)> ("XSendEvent");
    decltype (&XSync) sync = findX11Function<decltype (&XSync)> ("XSync");
    decltype (&XDefaultRootWindow) defaultRoot =
        findX11Function<decltype (&XDefaultRootWindow)> ("XDefaultRootWindow");

    bool isComplete() const
    {
        return openDisplay != nullptr && queryTree != nullptr && free != nullptr &&
               setInputFocus != nullptr && stringToKeysym != nullptr && keysymToKeycode != nullptr &&
               sendEvent != nullptr && sync != nullptr && defaultRoot != nullptr;
    }
};

// The deepest window under `window` (the topmost in stacking order where several are as deep):
// the plug-in's own window sits inside the host's embedding window.
void findDeepest (const X11& x, Display* display, Window window, int depth, Window& deepest,
                  int& deepestDepth)
{
    if (depth >= deepestDepth)
    {
        deepest = window;
        deepestDepth = depth;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (depth < 8 && x.queryTree (display, window, &root, &parent, &children, &count) != 0)
        for (unsigned int i = 0; i < count; ++i)
        {
            findDeepest (x, display, children[i], depth + 1, deepest, deepestDepth);
        }
    if (children != nullptr)
        x.free (children);
}

Window findInnermost (const X11& x, Display* display, Window window)
{
    Window deepest = window;
    int deepestDepth = -1;
    findDeepest (x, display, window, 0, deepest, deepestDepth);
    return deepest;
}
} // namespace

bool typeIntoPluginWindow (unsigned long hostWindow, int clickX, int clickY, const juce::StringArray& keys,
                           juce::String& error)
{
    const X11 x;
    if (!x.isComplete())
    {
        error = "libX11 could not be loaded";
        return false;
    }

    // A connection of the tool's own, kept for the process (closing it is not worth the risk
    // of a display that both JUCE copies hold too).
    static Display* const display = x.openDisplay (nullptr);
    if (display == nullptr)
    {
        error = "no display";
        return false;
    }

    const Window target = findInnermost (x, display, (Window)hostWindow);
    x.setInputFocus (display, target, RevertToParent, CurrentTime);
    x.sync (display, False);

    // A click at the window's left edge first, on no control: the plug-in's window takes the
    // keyboard focus as it would from a person's click.
    for (const int type : {ButtonPress, ButtonRelease})
    {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.display = display;
        event.xbutton.window = target;
        event.xbutton.root = x.defaultRoot (display);
        event.xbutton.time = CurrentTime;
        event.xbutton.x = clickX;
        event.xbutton.y = clickY;
        event.xbutton.button = Button1;
        event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        event.xbutton.same_screen = True;
        x.sendEvent (display, target, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask,
                     &event);
        x.sync (display, False);
    }

    const auto send = [&] (int type, KeyCode code, unsigned int state)
    {
        XEvent event{};
        event.xkey.type = type;
        event.xkey.display = display;
        event.xkey.window = target;
        event.xkey.root = x.defaultRoot (display);
        event.xkey.subwindow = None;
        event.xkey.time = CurrentTime;
        event.xkey.x = event.xkey.y = 1;
        event.xkey.x_root = event.xkey.y_root = 1;
        event.xkey.state = state;
        event.xkey.keycode = code;
        event.xkey.same_screen = True;
        x.sendEvent (display, target, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &event);
    };
    const auto codeOf = [&] (const juce::String& name) -> KeyCode
    {
        const KeySym symbol = x.stringToKeysym (name.toRawUTF8());
        return symbol != NoSymbol ? x.keysymToKeycode (display, symbol) : 0;
    };

    for (const auto& key : keys)
    {
        // As typed: the modifiers go down first and up last, each event carrying the state.
        auto parts = juce::StringArray::fromTokens (key, "+", {});
        const auto code = codeOf (parts[parts.size() - 1]);
        if (code == 0)
        {
            error = "unknown key '" + key + "'";
            return false;
        }
        parts.remove (parts.size() - 1);

        std::vector<std::pair<KeyCode, unsigned int>> modifiers;
        for (const auto& modifier : parts)
        {
            const bool isControl = modifier == "ctrl";
            if (!isControl && modifier != "shift")
            {
                error = "unknown modifier in '" + key + "'";
                return false;
            }
            modifiers.push_back (
                {codeOf (isControl ? "Control_L" : "Shift_L"), isControl ? ControlMask : ShiftMask});
        }

        unsigned int state = 0;
        for (const auto& [modifierCode, mask] : modifiers)
        {
            send (KeyPress, modifierCode, state);
            state |= mask;
        }
        send (KeyPress, code, state);
        send (KeyRelease, code, state);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        {
            send (KeyRelease, it->first, state);
            state &= ~it->second;
        }
        x.sync (display, False);
    }
    return true;
}

} // namespace varnelle::hostcheck
