#pragma once

#include <juce_core/juce_core.h>

// Reading the maker's product feed once its bytes have arrived: the document's latest_version
// for this product and whether it is later than our own. Outside bytes: every function here
// takes any input (a fuzz target drives them). Pure functions, any thread.
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

namespace updateCheckLimits
{
/** A feed longer than this counts as a failed check. */
inline constexpr int maxFeedBytes = 64 * 1024;
/** A feed whose arrays and objects nest deeper than this counts as malformed. */
inline constexpr int maxFeedNesting = 64;
} // namespace updateCheckLimits

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

/** The text of a feed's bytes, read the way JUCE reads a web page (UTF-8, or UTF-16 after a
    byte order mark). */
juce::String feedTextFromBytes (const void* feedBytes, size_t numBytes);

/** What a feed of `numBytes` bytes (read as text the way JUCE reads a web page) means for a
    build of version `ownVersion`: newerVersion or notNewer when its latest_version is later or
    not, failed when it names none or is longer than maxFeedBytes. */
UpdateCheckResult evaluateFeed (const void* feedBytes, size_t numBytes,
                                const juce::String& ownVersion = getOwnVersion());

} // namespace varnelle::editor
