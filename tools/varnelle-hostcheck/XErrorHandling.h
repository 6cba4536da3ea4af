#pragma once

// Keeps X errors from ending the process. Without a window manager some X requests that JUCE
// makes (atoms for window-manager hints, for example) fail with BadAtom or BadWindow, and
// Xlib's default handler exits. Message thread only.
#include <string>

namespace varnelle::hostcheck
{

/** Installs (again) a handler that only counts X errors. Does nothing if libX11 cannot be
    loaded. Call it again after code that may have installed its own handler, such as a
    plug-in library restoring an older handler when it shuts down. */
void installCountingXErrorHandler();

/** X errors seen so far. */
int getNumXErrors();

/** The errors seen so far by kind: "N x error E (request R)", ... */
std::string describeXErrors();

} // namespace varnelle::hostcheck
