#include "RawLv2Host.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

namespace varnelle::hostcheck
{

RawLv2Features::RawLv2Features (double sampleRate, int maxBlockSize)
    : rate ((float)sampleRate), maxBlock (maxBlockSize)
{
    const auto atomInt = map (this, LV2_ATOM__Int);
    const auto atomFloat = map (this, LV2_ATOM__Float);
    options = {
        {LV2_OPTIONS_INSTANCE, 0, map (this, LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), atomInt,
         &maxBlock},
        {LV2_OPTIONS_INSTANCE, 0, map (this, LV2_BUF_SIZE__minBlockLength), sizeof (int32_t), atomInt,
         &minBlock},
        {LV2_OPTIONS_INSTANCE, 0, map (this, LV2_PARAMETERS__sampleRate), sizeof (float), atomFloat, &rate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };

    mapFeature = {LV2_URID__map, &urid};
    boundedFeature = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    optionsFeature = {LV2_OPTIONS__options, options.data()};
    pluginFeatures = {&mapFeature, &boundedFeature, &optionsFeature, nullptr};
}

const LV2_Feature* const* RawLv2Features::forUi (LV2_Handle instance, void* parentWindow)
{
    instanceFeature = {LV2_INSTANCE_ACCESS_URI, instance};
    parentFeature = {LV2_UI__parent, parentWindow};
    uiFeatures = {&mapFeature, &optionsFeature, &instanceFeature, &parentFeature, nullptr};
    return uiFeatures.data();
}

LV2_URID RawLv2Features::map (LV2_URID_Map_Handle handle, const char* uri)
{
    auto& uris = static_cast<RawLv2Features*> (handle)->uris;
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri)
            return (LV2_URID)(i + 1);

    uris.emplace_back (uri);
    return (LV2_URID)uris.size();
}

RawLv2Library::RawLv2Library (const juce::File& library)
{
    handle = ::dlopen (library.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        error = "dlopen: " + juce::String (::dlerror());
        return;
    }

    using PluginEntry = const LV2_Descriptor* (*)(uint32_t);
    using UiEntry = const LV2UI_Descriptor* (*)(uint32_t);
    const auto pluginEntry = reinterpret_cast<PluginEntry> (::dlsym (handle, "lv2_descriptor"));
    const auto uiEntry = reinterpret_cast<UiEntry> (::dlsym (handle, "lv2ui_descriptor"));
    plugin = pluginEntry != nullptr ? pluginEntry (0) : nullptr;
    ui = uiEntry != nullptr ? uiEntry (0) : nullptr;

    if (plugin == nullptr || ui == nullptr)
        error = library.getFullPathName() + " lacks lv2_descriptor or lv2ui_descriptor";
}

RawLv2Library::~RawLv2Library()
{
    if (handle != nullptr)
        ::dlclose (handle);
}

LV2_Handle RawLv2Library::instantiate (RawLv2Features& features, double sampleRate, const juce::File& bundle)
{
    if (plugin == nullptr)
        return nullptr;

    const auto path = juce::File::addTrailingSeparator (bundle.getFullPathName());
    auto* instance = plugin->instantiate (plugin, sampleRate, path.toRawUTF8(), features.forPlugin());
    if (instance != nullptr && plugin->activate != nullptr)
        plugin->activate (instance);
    return instance;
}

void RawLv2Library::cleanUp (LV2_Handle instance)
{
    if (instance == nullptr)
        return;

    if (plugin->deactivate != nullptr)
        plugin->deactivate (instance);
    plugin->cleanup (instance);
}

LV2UI_Handle RawLv2Library::instantiateUi (RawLv2Features& features, LV2_Handle instance, void* parentWindow,
                                           const juce::File& bundle)
{
    if (ui == nullptr)
        return nullptr;

    const auto path = juce::File::addTrailingSeparator (bundle.getFullPathName());
    LV2UI_Widget widget = nullptr;
    const auto ignoreWrites = [] (LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
    return ui->instantiate (ui, plugin->URI, path.toRawUTF8(), ignoreWrites, nullptr, &widget,
                            features.forUi (instance, parentWindow));
}

void RawLv2Library::idleUi (LV2UI_Handle uiHandle)
{
    if (uiHandle == nullptr || ui->extension_data == nullptr)
        return;

    if (const auto* idle =
            static_cast<const LV2UI_Idle_Interface*> (ui->extension_data (LV2_UI__idleInterface)))
        idle->idle (uiHandle);
}

void RawLv2Library::cleanUpUi (LV2UI_Handle uiHandle)
{
    if (uiHandle != nullptr)
        ui->cleanup (uiHandle);
}

} // namespace varnelle::hostcheck
