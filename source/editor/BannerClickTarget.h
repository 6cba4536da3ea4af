#pragma once

#include "editor/UpdateCheck.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace varnelle::editor
{

/** The support page "/support/varnelle/" on the site at `makerSiteUrl`. */
juce::URL getSupportPageUrl (const juce::String& makerSiteUrl = getMakerSiteUrl());

/** A transparent component over the banner: a click on it opens the support page. It paints
    nothing, so the banner the editor paints shows through. Message thread only. */
class BannerClickTarget : public juce::Component
{
public:
    /** Opens a web page. */
    using PageOpener = std::function<void (const juce::URL&)>;

    /** Opens pages in the default browser. */
    static void openInDefaultBrowser (const juce::URL& page);

    /** Intercepts clicks, is not opaque, shows the pointing hand, and sets `onClick` to open
        the support page of `makerSiteUrl` with `openPage`. */
    explicit BannerClickTarget (const juce::String& makerSiteUrl = getMakerSiteUrl(),
                                PageOpener openPage = openInDefaultBrowser);
    ~BannerClickTarget() override;

    /** Any release of a press that began here calls `onClick`, whatever the button and
        wherever the pointer is now. */
    void mouseUp (const juce::MouseEvent& event) override;

    /** The page a click opens. */
    const juce::URL& getSupportPage() const noexcept { return supportPage; }

    /** Called by mouseUp when set. */
    std::function<void()> onClick;

private:
    juce::URL supportPage;
    PageOpener pageOpener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BannerClickTarget)
};

} // namespace varnelle::editor
