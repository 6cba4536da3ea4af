#pragma once

// Keeps X errors from ending the process (Xlib's default handler exits) and counts them, so
// that the checks can report them. Message thread only.
#include <string>

namespace varnelle::hostcheck
{

/** A libX11 function, from the library loaded at run time as JUCE does; null without it. */
void* findX11Symbol (const char* name);

template <typename Function>
Function findX11Function (const char* name)
{
    return reinterpret_cast<Function> (findX11Symbol (name));
}

/** Installs (again) a handler that only counts X errors. Does nothing if libX11 cannot be
    loaded. Call it again after code that may have installed its own handler, such as a
    plug-in library restoring an older handler when it shuts down. */
void installCountingXErrorHandler();

/** Creates the atoms a window manager would have created (WM_STATE, _NET_WM_STATE, ...).
    JUCE only looks those up, and without a window manager (Xvfb) every request naming one
    fails with BadAtom. Returns false if there is no display. */
bool createWindowManagerAtoms();

/** X errors seen so far. */
int getNumXErrors();

/** The errors seen so far by kind: "N x error E (request R)", ... */
std::string describeXErrors();

} // namespace varnelle::hostcheck
