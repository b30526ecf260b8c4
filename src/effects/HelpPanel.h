#pragma once

#include <osg/ApplicationUsage>
#include <osgViewer/ViewerEventHandlers>

namespace Novaro
{

// The keys of the current keyboard mode, shown and hidden with a key. OpenSceneGraph's panel puts
// white letters in a thin black outline straight on the picture, which over a bright one (the
// tracking mode's thresholded image is mostly white) cannot be read; this one lays a nearly opaque
// dark plane under the letters.
class HelpPanel : public osgViewer::HelpHandler
{
public:
    // The plane's opacity: the picture still shows through, the text reads on any of it.
    static constexpr float kBackingOpacity = 0.85f;
    // Around the letters, in the panel's units (its picture is 1280 units wide).
    static constexpr float kBackingMargin = 12.0f;

    HelpPanel(osg::ApplicationUsage* usage, int toggleKey);

    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& action) override;
    using osgViewer::HelpHandler::handle;

protected:
    ~HelpPanel() override = default;

private:
    bool _darkened = false;
};

} // namespace Novaro
