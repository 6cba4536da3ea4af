#pragma once

#include <juce_core/juce_core.h>

#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <memory>
#include <string>
#include <vector>

// A minimal LV2 host of our own, for the one arrangement JUCE's LV2 host never makes: the
// plug-in instance of one library handed to the UI of another, as lilv arranges it when two
// installed bundles share a URI. It gives the plug-in and the UI what a real host gives
// (URID map, bounded block length, options, instance access, a parent window), so that a UI
// that did not refuse the foreign instance would really open. Message thread only.
namespace varnelle::hostcheck
{

/** URIDs, options and features shared by the instances of one check. */
class RawLv2Features
{
public:
    RawLv2Features (double sampleRate, int maxBlockSize);

    const LV2_Feature* const* forPlugin() const noexcept { return pluginFeatures.data(); }

    /** Features for a UI: the plug-in's, with instance access and the parent X window. The
        array lives until the next call. */
    const LV2_Feature* const* forUi (LV2_Handle instance, void* parentWindow);

private:
    static LV2_URID map (LV2_URID_Map_Handle handle, const char* uri);

    std::vector<std::string> uris;
    LV2_URID_Map urid{this, &RawLv2Features::map};
    float rate = 0.0f;
    int32_t maxBlock = 0, minBlock = 1;
    std::vector<LV2_Options_Option> options;
    LV2_Feature mapFeature{}, boundedFeature{}, optionsFeature{}, instanceFeature{}, parentFeature{};
    std::vector<const LV2_Feature*> pluginFeatures, uiFeatures;
};

/** One plug-in library opened with dlopen, as a host other than JUCE opens it. */
class RawLv2Library
{
public:
    explicit RawLv2Library (const juce::File& library);
    ~RawLv2Library();

    RawLv2Library (const RawLv2Library&) = delete;
    RawLv2Library& operator= (const RawLv2Library&) = delete;

    /** Empty if the library opened and has both entry points, else why not. */
    const juce::String& getError() const noexcept { return error; }

    /** A plug-in instance, instantiated and activated; null on failure. */
    LV2_Handle instantiate (RawLv2Features&, double sampleRate, const juce::File& bundle);
    void cleanUp (LV2_Handle instance);

    /** The library's UI for `instance`, embedded in `parentWindow`; null if it refuses. */
    LV2UI_Handle instantiateUi (RawLv2Features&, LV2_Handle instance, void* parentWindow,
                                const juce::File& bundle);
    /** One run of the UI's host-driven event loop (its idle interface). */
    void idleUi (LV2UI_Handle ui);
    void cleanUpUi (LV2UI_Handle ui);

private:
    void* handle = nullptr;
    const LV2_Descriptor* plugin = nullptr;
    const LV2UI_Descriptor* ui = nullptr;
    juce::String error;
};

} // namespace varnelle::hostcheck
