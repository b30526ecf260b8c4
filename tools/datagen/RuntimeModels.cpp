#include "RuntimeModels.h"

#include "Shapes.h"

#include <osg/Group>

namespace Novaro
{
namespace DataGen
{

osg::ref_ptr<osg::Node> makeDefaultModel()
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName("Novaro");

    const Mesh plate = makeBox(osg::Vec3(0.0f, 0.0f, 2.0f), osg::Vec3(80.0f, 80.0f, 4.0f));
    root->addChild(makeGeode("Plate", plate, osg::Vec4(0.1f, 0.25f, 0.75f, 1.0f), true).get());

    // The letter stands upright in the XZ plane, facing -Y.
    const float stroke = 14.0f;
    const float depth = 16.0f;
    const float bottom = 4.0f;
    const float height = 60.0f;
    Mesh letter = makeBox(osg::Vec3(-23.0f, 0.0f, bottom + height * 0.5f), osg::Vec3(stroke, depth, height));
    letter.append(makeBox(osg::Vec3(23.0f, 0.0f, bottom + height * 0.5f), osg::Vec3(stroke, depth, height)));
    // The diagonal bar runs from the top of the left stroke to the foot of the right one; it is
    // shortened so that its corners stay within the letter's height.
    const osg::Vec3 diagonal(32.0f, 0.0f, -height);
    const Mesh bar = makeBox(osg::Vec3(), osg::Vec3(stroke, depth, 60.5f));
    letter.append(bar.transformed(osg::Matrix::rotate(osg::Vec3(0.0f, 0.0f, 1.0f), diagonal) *
                                  osg::Matrix::translate(0.0f, 0.0f, bottom + height * 0.5f)));
    root->addChild(makeGeode("Letter", letter, osg::Vec4(1.0f, 0.55f, 0.0f, 1.0f), true).get());
    return root;
}

osg::ref_ptr<osg::Node> makeLightDummies()
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName("Dummies");
    const osg::Vec4 yellow(1.0f, 0.9f, 0.1f, 1.0f);
    const osg::Matrix pointDown =
        osg::Matrix::rotate(osg::Vec3(0.0f, 0.0f, 1.0f), osg::Vec3(0.0f, 0.0f, -1.0f));

    root->addChild(makeGeode("DirectionalDummy", makeArrow(20.0f, 1.0f, 3.0f, 6.0f).transformed(pointDown),
                             yellow, false)
                       .get());
    root->addChild(makeGeode("OmniDummy", makeSphere(osg::Vec3(), 4.0f, 12, 16), yellow, false).get());
    // Apex at the light, base 15 units further along -Z.
    root->addChild(
        makeGeode("SpotDummy", makeCone(osg::Vec3(0.0f, 0.0f, -15.0f), 7.0f, 15.0f, 24), yellow, false)
            .get());
    return root;
}

osg::ref_ptr<osg::Node> makeAxes()
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName("Axes");
    const Mesh arrow = makeArrow(40.0f, 0.8f, 2.5f, 8.0f);
    const osg::Vec3 up(0.0f, 0.0f, 1.0f);
    root->addChild(makeGeode("XAxis", arrow.transformed(osg::Matrix::rotate(up, osg::Vec3(1, 0, 0))),
                             osg::Vec4(1, 0, 0, 1), false)
                       .get());
    root->addChild(makeGeode("YAxis", arrow.transformed(osg::Matrix::rotate(up, osg::Vec3(0, 1, 0))),
                             osg::Vec4(0, 1, 0, 1), false)
                       .get());
    root->addChild(makeGeode("ZAxis", arrow, osg::Vec4(0, 0, 1, 1), false).get());
    return root;
}

} // namespace DataGen
} // namespace Novaro
