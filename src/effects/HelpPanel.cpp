#include "effects/HelpPanel.h"

#include <osg/BlendFunc>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osgText/Text>

#include <vector>

namespace Novaro
{

namespace
{

// The panel's texts and the geodes that hold them.
class FindTexts : public osg::NodeVisitor
{
public:
    FindTexts() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Geode& geode) override
    {
        for (unsigned int i = 0; i < geode.getNumDrawables(); ++i)
            if (auto* text = dynamic_cast<osgText::Text*>(geode.getDrawable(i)))
            {
                texts.push_back(text);
                if (geodes.empty() || geodes.back() != &geode)
                    geodes.push_back(&geode);
            }
    }

    std::vector<osgText::Text*> texts;
    std::vector<osg::Geode*> geodes;
};

// One dark plane under all the texts of a geode, drawn before them.
osg::ref_ptr<osg::Geometry> backing(const osg::BoundingBox& box, float margin)
{
    osg::ref_ptr<osg::Geometry> plane = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> corners = new osg::Vec3Array;
    const float z = box.zMin() - 1.0f;
    corners->push_back(osg::Vec3(box.xMin() - margin, box.yMin() - margin, z));
    corners->push_back(osg::Vec3(box.xMax() + margin, box.yMin() - margin, z));
    corners->push_back(osg::Vec3(box.xMax() + margin, box.yMax() + margin, z));
    corners->push_back(osg::Vec3(box.xMin() - margin, box.yMax() + margin, z));
    plane->setVertexArray(corners.get());
    osg::ref_ptr<osg::Vec4Array> colour = new osg::Vec4Array;
    colour->push_back(osg::Vec4(0.05f, 0.05f, 0.05f, HelpPanel::kBackingOpacity));
    plane->setColorArray(colour.get(), osg::Array::BIND_OVERALL);
    plane->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));
    osg::StateSet* state = plane->getOrCreateStateSet();
    state->setMode(GL_BLEND, osg::StateAttribute::ON);
    state->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA));
    state->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    state->setRenderBinDetails(-1, "RenderBin");
    return plane;
}

} // namespace

HelpPanel::HelpPanel(osg::ApplicationUsage* usage, int toggleKey) : osgViewer::HelpHandler(usage)
{
    setKeyEventTogglesOnScreenHelp(toggleKey);
}

bool HelpPanel::handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& action)
{
    const bool handled = osgViewer::HelpHandler::handle(event, action);
    // OpenSceneGraph builds the panel when it is first shown: white letters in a thin black outline,
    // straight on the picture.
    if (!_darkened && getCamera() && getCamera()->getNumChildren() > 0)
    {
        FindTexts found;
        getCamera()->accept(found);
        for (osg::Geode* geode : found.geodes)
        {
            osg::BoundingBox box;
            for (osgText::Text* text : found.texts)
                if (geode->containsDrawable(text))
                    box.expandBy(text->getBoundingBox());
            if (box.valid())
                geode->insertChild(0, backing(box, kBackingMargin));
        }
        // On the dark plane the outline only thins the small letters.
        for (osgText::Text* text : found.texts)
        {
            text->setBackdropType(osgText::Text::NONE);
            text->setColor(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));
        }
        _darkened = !found.geodes.empty();
    }
    return handled;
}

} // namespace Novaro
