#include "BannerClickTarget.h"

namespace varnelle::editor
{

juce::URL getSupportPageUrl (const juce::String& makerSiteUrl)
{
    return juce::URL (makeSiteAddress (makerSiteUrl, "/support/varnelle/"));
}

void BannerClickTarget::openInDefaultBrowser (const juce::URL& page)
{
    // A browser that cannot be started is not reported.
    page.launchInDefaultBrowser();
}

BannerClickTarget::BannerClickTarget (const juce::String& makerSiteUrl, PageOpener openPage)
    : supportPage (getSupportPageUrl (makerSiteUrl)), pageOpener (std::move (openPage))
{
    setInterceptsMouseClicks (true, true);
    setOpaque (false);
    setMouseCursor (juce::MouseCursor::PointingHandCursor);

    onClick = [this]
    {
        if (pageOpener)
            pageOpener (supportPage);
    };
}

BannerClickTarget::~BannerClickTarget() = default;

void BannerClickTarget::mouseUp (const juce::MouseEvent&)
{
    if (onClick)
        onClick();
}

} // namespace varnelle::editor
