// The Standalone app: JUCE's plug-in window and holder, with the audio device chosen for a
// Linux desktop. JUCE tries ALSA first; where a JACK server (or PipeWire's JACK service) runs
// and the user has chosen no device yet, the app takes JACK instead, where musicians route
// other programs through it. On JACK the input is not muted: JUCE mutes it against feedback
// from a microphone into speakers, but a JACK user wires the signal to the app on purpose.
// Message thread only.

#include <juce_audio_utils/juce_audio_utils.h>

#include <memory>

// JUCE keeps these classes in its standalone sources; the header expects the modules above.
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

namespace
{
const juce::String jackTypeName = "JACK";

// JUCE's JACK type lists devices only while a server answers.
bool isJackServerRunning (juce::AudioDeviceManager& devices)
{
    for (auto* type : devices.getAvailableDeviceTypes())
        if (type->getTypeName() == jackTypeName)
        {
            type->scanForDevices();
            return !type->getDeviceNames().isEmpty();
        }
    return false;
}

class VarnelleStandaloneApp final : public juce::JUCEApplication
{
public:
    VarnelleStandaloneApp()
    {
        // Where JUCE's own standalone app keeps its settings, so that they carry over.
        juce::PropertiesFile::Options options;
        options.applicationName = getApplicationName();
        options.filenameSuffix = ".settings";
        options.folderName = "~/.config";
        appProperties.setStorageParameters (options);
    }

    const juce::String getApplicationName() override { return JucePlugin_Name; }
    const juce::String getApplicationVersion() override { return JucePlugin_VersionString; }
    bool moreThanOneInstanceAllowed() override { return true; }
    void anotherInstanceStarted (const juce::String&) override {}

    void initialise (const juce::String&) override
    {
        auto* settings = appProperties.getUserSettings();
        const bool deviceChosenBefore = settings->containsKey ("audioSetup");
        mainWindow = std::make_unique<juce::StandaloneFilterWindow> (
            getApplicationName(),
            juce::LookAndFeel::getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
            settings, false);

        auto& holder = *mainWindow->pluginHolder;
        if (!deviceChosenBefore && isJackServerRunning (holder.deviceManager))
            holder.deviceManager.setCurrentAudioDeviceType (jackTypeName, true);
        if (holder.deviceManager.getCurrentAudioDeviceType() == jackTypeName)
            holder.getMuteInputValue().setValue (false);

        mainWindow->setVisible (true);
    }

    void shutdown() override
    {
        mainWindow = nullptr;
        appProperties.saveIfNeeded();
    }

    void systemRequestedQuit() override
    {
        if (mainWindow != nullptr)
            mainWindow->pluginHolder->savePluginState();

        // A modal dialog (the audio settings) closes first; then the quit is asked again.
        if (juce::ModalComponentManager::getInstance()->cancelAllModalComponents())
            juce::Timer::callAfterDelay (100,
                                         []
                                         {
                                             if (auto* app = juce::JUCEApplicationBase::getInstance())
                                                 app->systemRequestedQuit();
                                         });
        else
            quit();
    }

private:
    juce::ApplicationProperties appProperties;
    std::unique_ptr<juce::StandaloneFilterWindow> mainWindow;
};
} // namespace

juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new VarnelleStandaloneApp();
}
