#pragma once

#include "editor/UpdateFeed.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

// The update check: one GET of the maker's product feed, the version found there compared with
// our own (UpdateFeed.h). The result only ever reaches the editor on the message thread.
namespace varnelle::editor
{

/** The maker's web site this build talks to, e.g. "https://www.quorvane.com" (no trailing slash). */
juce::String getMakerSiteUrl();

/** The address of `path` (which starts with "/") on the site `baseUrl`; trailing slashes of
    the base are dropped so that the two join with exactly one. */
juce::String makeSiteAddress (const juce::String& baseUrl, const juce::String& path);

namespace updateCheckLimits
{
inline constexpr int connectionTimeoutMs = 2500;
inline constexpr int maxRedirects = 3;
/** A request still running this long after it started is cancelled. */
inline constexpr int requestDeadlineMs = 8000;
} // namespace updateCheckLimits

/** Fetches `baseUrl` + "/products.json" and compares its latest_version with `ownVersion`.
    Blocks for up to about `requestDeadlineMs`, then cancels the request; call it from a
    background thread. Any thread. */
UpdateCheckResult runUpdateCheck (const juce::String& baseUrl,
                                  const juce::String& ownVersion = getOwnVersion());

/** Message thread. Runs runUpdateCheck on a background thread and, if the feed names a newer
    version, calls `onNewerVersion` on the message thread - but only if `receiver` still exists
    then; otherwise the result is dropped. `onNewerVersion` may be destroyed on any thread.
    Checks run one at a time on a worker that belongs to no editor; JUCE's shutdown, which a
    plug-in reaches before it can be unloaded, cancels the check in flight and waits for the
    worker, so no check outlives the code it runs. */
void startUpdateCheck (juce::Component& receiver, std::function<void()> onNewerVersion,
                       const juce::String& baseUrl = getMakerSiteUrl());

/** The number of background checks that have not finished yet. Any thread. */
int getNumRunningUpdateChecks();

/** Drops the background checks not yet begun, cancels the one in flight and waits for it to
    end. New checks may be started afterwards. Any thread except a check's own. */
void cancelAllUpdateChecks();

} // namespace varnelle::editor
