// The LV2 UI entry point of the plug-in's library: JUCE's own, behind a check that the window
// is asked for an instance of this very library.
//
// Two installed copies of Varnelle (say ~/.lv2 and /usr/lib/lv2) share one plug-in URI. lilv
// keeps the plug-in of the first bundle but merges what both bundles say about the UI, so a
// host can instantiate the audio from one library and the window from the other. JUCE's UI
// then casts the host's instance-access pointer to its own LV2PluginInstance and drives an
// object of another JUCE copy: two sets of statics, message loops and vtables calling into
// each other, and a crash once either library is unloaded. The window refuses such an instance
// instead, so the host shows no window (or its generic controls) and keeps running.
//
// JUCE's source is untouched: the build renames JUCE's exported lv2ui_descriptor to
// varnelle_juce_lv2ui_descriptor in its one translation unit, and this file exports the real
// name. Host calls only; the host's UI thread.

#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

extern "C" const LV2UI_Descriptor* varnelle_juce_lv2ui_descriptor (uint32_t index);

namespace
{
const LV2UI_Descriptor* juceDescriptor = nullptr;

const void* findFeatureData (const LV2_Feature* const* features, const char* uri)
{
    for (auto* const* feature = features; feature != nullptr && *feature != nullptr; ++feature)
        if ((*feature)->URI != nullptr && std::strcmp ((*feature)->URI, uri) == 0)
            return (*feature)->data;

    return nullptr;
}

/** The library that holds `address`, or nullptr if no loaded library does. */
const void* libraryBaseOf (const void* address, const char*& path)
{
    Dl_info info{};
    if (address == nullptr || ::dladdr (address, &info) == 0)
    {
        path = "(no library)";
        return nullptr;
    }

    path = info.dli_fname != nullptr ? info.dli_fname : "(unnamed library)";
    return info.dli_fbase;
}

/** True if the instance the host hands the window was created by this library. JUCE's
    plug-in instance is a polymorphic object, so its first word points at its vtable, which
    lies in the library whose code created it; the same bytes mapped from another path are
    another library here, as they are to the dynamic loader. */
bool instanceBelongsToThisLibrary (const void* instance, const char*& instanceLibrary,
                                   const char*& ownLibrary)
{
    const void* vtable = nullptr;
    std::memcpy (&vtable, instance, sizeof (vtable));

    const auto* instanceBase = libraryBaseOf (vtable, instanceLibrary);
    const auto* ownBase =
        libraryBaseOf (reinterpret_cast<const void*> (&varnelle_juce_lv2ui_descriptor), ownLibrary);
    return instanceBase != nullptr && instanceBase == ownBase;
}

LV2UI_Handle instantiateGuarded (const LV2UI_Descriptor* descriptor, const char* pluginUri,
                                 const char* bundlePath, LV2UI_Write_Function writeFunction,
                                 LV2UI_Controller controller, LV2UI_Widget* widget,
                                 const LV2_Feature* const* features)
{
    // Without instance access JUCE's UI refuses by itself.
    if (const auto* instance = findFeatureData (features, LV2_INSTANCE_ACCESS_URI); instance != nullptr)
    {
        const char* instanceLibrary = nullptr;
        const char* ownLibrary = nullptr;

        if (!instanceBelongsToThisLibrary (instance, instanceLibrary, ownLibrary))
        {
            std::fprintf (stderr,
                          "Varnelle: no window: the plug-in instance runs %s, this window is %s; two "
                          "copies of Varnelle are installed, remove one of them\n",
                          instanceLibrary, ownLibrary);
            return nullptr;
        }
    }

    return juceDescriptor->instantiate (descriptor, pluginUri, bundlePath, writeFunction, controller, widget,
                                        features);
}
} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor (uint32_t index)
{
    // JUCE's descriptor is a static of its own; this one differs only in instantiate, and keeps
    // JUCE's cleanup, port_event and extension_data, which take JUCE's own UI handle.
    static const LV2UI_Descriptor* const guarded = []() -> const LV2UI_Descriptor*
    {
        juceDescriptor = varnelle_juce_lv2ui_descriptor (0);
        if (juceDescriptor == nullptr)
            return nullptr;

        static LV2UI_Descriptor copy = *juceDescriptor;
        copy.instantiate = instantiateGuarded;
        return &copy;
    }();

    return index == 0 ? guarded : nullptr;
}
