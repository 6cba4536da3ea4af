#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

// The update check: one GET of the maker's product feed, the version found there compared with
// our own. The result only ever reaches the editor on the message thread.
namespace varnelle::editor
{

/** A version as major.minor.patch; parts compare as signed integers. */
struct VersionNumber
{
    int major = 0;
    int minor = 0;
    int patch = 0;
};

/** Splits `text` at every ".", drops empty parts and reads the first three as integers
    (leading white space and one sign allowed, reading stops at the first non-digit, no digits
    give 0, values beyond the int range saturate). Missing parts are 0, later ones ignored. */
VersionNumber parseVersion (const juce::String& text);

/** True when `candidate` is later than `current`, comparing major, then minor, then patch. */
bool isNewerVersion (const VersionNumber& candidate, const VersionNumber& current) noexcept;

/** The plug-in's own version, "1.2.0". */
juce::String getOwnVersion();

/** The maker's web site this build talks to, e.g. "https://www.quorvane.com" (no trailing slash). */
juce::String getMakerSiteUrl();

/** The address of `path` (which starts with "/") on the site `baseUrl`; trailing slashes of
    the base are dropped so that the two join with exactly one. */
juce::String makeSiteAddress (const juce::String& baseUrl, const juce::String& path);

/** The trimmed products → varnelle → latest_version value of a feed document, or an empty
    string when the document is not JSON (or nests deeper than maxFeedNesting, or has a number
    with more digits than JUCE's parser can hold), a level is missing or not an object, or the
    value is neither a string nor a number. */
juce::String readLatestVersion (const juce::String& feedText);

enum class UpdateCheckResult
{
    newerVersion, ///< the feed names a later version than ours
    notNewer,     ///< the feed names our version or an earlier one
    failed        ///< no usable feed: network, redirect, size, status or format failure
};

namespace updateCheckLimits
{
inline constexpr int connectionTimeoutMs = 2500;
inline constexpr int maxRedirects = 3;
/** A feed longer than this counts as a failed check. */
inline constexpr int maxFeedBytes = 64 * 1024;
/** A feed whose arrays and objects nest deeper than this counts as malformed. */
inline constexpr int maxFeedNesting = 64;
/** A request still running this long after it started is cancelled. */
inline constexpr int requestDeadlineMs = 8000;
} // namespace updateCheckLimits

/** The text of a feed's bytes, read the way JUCE reads a web page (UTF-8, or UTF-16 after a
    byte order mark). At most maxFeedBytes bytes; any thread. */
juce::String feedTextFromBytes (const void* feedBytes, size_t numBytes);

/** What a feed of `numBytes` bytes (read as text the way JUCE reads a web page) means for a
    build of version `ownVersion`: newerVersion or notNewer when its latest_version is later or
    not, failed when it names none or is longer than maxFeedBytes. Any thread. */
UpdateCheckResult evaluateFeed (const void* feedBytes, size_t numBytes,
                                const juce::String& ownVersion = getOwnVersion());

/** Fetches `baseUrl` + "/products.json" and compares its latest_version with `ownVersion`.
    Blocks for up to about `requestDeadlineMs`; call it from a background thread. Any thread.
    The request can be ended early by cancelAllUpdateChecks(). */
UpdateCheckResult runUpdateCheck (const juce::String& baseUrl,
                                  const juce::String& ownVersion = getOwnVersion());

/** Message thread. Runs runUpdateCheck on a background thread and, if the feed names a newer
    version, calls `onNewerVersion` on the message thread - but only if `receiver` still exists
    then; otherwise the result is dropped. `onNewerVersion` may be destroyed on any thread.
    The thread belongs to a process-wide owner that cancels and joins it at JUCE shutdown and
    when the library is unloaded, so no check outlives the code it runs. */
void startUpdateCheck (juce::Component& receiver, std::function<void()> onNewerVersion,
                       const juce::String& baseUrl = getMakerSiteUrl());

/** The number of background checks that have not finished yet. Any thread. */
int getNumRunningUpdateChecks();

/** Cancels every request in flight and waits for every background check to end. New checks may
    be started afterwards. Any thread except a check's own. */
void cancelAllUpdateChecks();

} // namespace varnelle::editor
