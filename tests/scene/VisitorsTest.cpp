#include "NotifyCapture.h"
#include "scene/ARGeodeVisitor.h"
#include "scene/ARLightSourceVisitor.h"
#include "scene/ARTextureUnitsVisitor.h"
#include "scene/ARTextureUnitsVisitorMover.h"
#include "scene/TextureUnitRenaming.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/TexEnv>
#include <osg/TexEnvCombine>
#include <osg/Texture2D>
#include <osg/TextureRectangle>

#include <gtest/gtest.h>

using namespace Novaro;
using NovaroTest::NotifyCapture;

namespace
{

osg::ref_ptr<osg::Geode> namedGeodeWithGeometry(const std::string& name)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(name);
    geode->addDrawable(new osg::Geometry);
    return geode;
}

osg::ref_ptr<osg::Group> namedGroup(const std::string& name)
{
    osg::ref_ptr<osg::Group> group = new osg::Group;
    group->setName(name);
    return group;
}

} // namespace

TEST(ARNodeSearchByNameVisitor, LastExactMatchWinsPassingOverEmptyGroupsAndWhatAMatchHolds)
{
    osg::ref_ptr<osg::Group> root = namedGroup("root");
    osg::ref_ptr<osg::Group> first = namedGroup("Screen");
    osg::ref_ptr<osg::Group> inner = namedGroup("Screen"); // below a match: never considered
    inner->addChild(new osg::Geode);
    first->addChild(inner.get());
    osg::ref_ptr<osg::Group> branch = namedGroup("branch");
    osg::ref_ptr<osg::Geode> second = namedGeodeWithGeometry("Screen");
    branch->addChild(second.get());
    root->addChild(first.get());
    root->addChild(branch.get());
    for (const char* other : {"Screen", "screen", "Screen "}) // an empty group, then other names
        root->addChild(namedGroup(other));
    auto found = [&](const std::string& name)
    {
        ARNodeSearchByNameVisitor visitor(name);
        root->accept(visitor);
        return visitor.getNode();
    };
    EXPECT_EQ(found("Screen"), second.get());
    EXPECT_EQ(found("Scree"), nullptr);

    // With the second one gone, the outer node of the nested pair is the result.
    branch->removeChild(second.get());
    EXPECT_EQ(found("Screen"), first.get());

    // A leaf that is not a group is a valid match.
    osg::ref_ptr<osg::Node> leaf = new osg::Node;
    leaf->setName("leaf");
    root->addChild(leaf.get());
    EXPECT_EQ(found("leaf"), leaf.get());
}

TEST(ARGeodeAndLightSourceVisitors, FindTheLastOneInDepthFirstOrder)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    osg::ref_ptr<osg::Geode> firstGeode = new osg::Geode;
    osg::ref_ptr<osg::Group> middle = new osg::Group;
    osg::ref_ptr<osg::Geode> lastGeode = new osg::Geode;
    osg::ref_ptr<osg::LightSource> firstLight = new osg::LightSource;
    osg::ref_ptr<osg::LightSource> lastLight = new osg::LightSource;
    osg::ref_ptr<osg::Geode> geodeUnderLight = new osg::Geode;
    lastLight->addChild(geodeUnderLight.get());
    root->addChild(firstGeode.get());
    root->addChild(firstLight.get());
    middle->addChild(lastGeode.get());
    middle->addChild(lastLight.get());
    root->addChild(middle.get());

    ARGeodeVisitor geodes;
    root->accept(geodes);
    EXPECT_EQ(geodes.getGeode(), geodeUnderLight.get());

    ARLightSourceVisitor lights;
    root->accept(lights);
    EXPECT_EQ(lights.getLightSource(), lastLight.get());

    ARGeodeVisitor none;
    osg::ref_ptr<osg::Group> empty = new osg::Group;
    empty->accept(none);
    EXPECT_EQ(none.getGeode(), nullptr);
}

TEST(ARTextureUnitsVisitor, RecordsUnitsOnceInOrderAndCountsCombiners)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osg::Geometry> first = new osg::Geometry;
    first->getOrCreateStateSet()->setTextureAttributeAndModes(2, new osg::Texture2D);
    first->getOrCreateStateSet()->setTextureAttributeAndModes(5, new osg::TextureRectangle);
    first->getOrCreateStateSet()->setTextureAttribute(1, new osg::TexEnvCombine);
    osg::ref_ptr<osg::Geometry> second = new osg::Geometry;
    second->getOrCreateStateSet()->setTextureAttributeAndModes(2, new osg::Texture2D);
    second->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D);
    second->getOrCreateStateSet()->setTextureAttribute(1, new osg::TexEnvCombine);
    osg::ref_ptr<osg::Geometry> withoutState = new osg::Geometry;
    geode->addDrawable(first.get());
    geode->addDrawable(second.get());
    geode->addDrawable(withoutState.get());

    NotifyCapture capture;
    ARTextureUnitsVisitor visitor;
    geode->accept(visitor);

    std::vector<unsigned int> used;
    for (const auto& unit : visitor.getUsedUnits())
        used.push_back(unit.first);
    EXPECT_EQ(used, (std::vector<unsigned int>{0, 2, 5}));
    EXPECT_EQ(visitor.getUsedUnitsList(), (std::vector<unsigned int>{2, 5, 0}));
    EXPECT_EQ(visitor.getOpacityUnits(), (std::vector<unsigned int>{1, 1}));
    // Unit 2 met again in the second drawable is not printed a second time.
    EXPECT_EQ(capture.text(osg::FATAL), " Found TU: 2 (Texture2D)\n Found TU: 5\n Found TU: 0 (Texture2D)\n");
}

// Each drawable's units move down on their own; an environment alone holds its unit too.
TEST(ARTextureUnitsVisitorMover, CompactsTexturesAndCoordinatesKeepingTheirOrder)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec2Array> coordinatesA = new osg::Vec2Array(1);
    osg::ref_ptr<osg::Vec2Array> coordinatesB = new osg::Vec2Array(1);
    geometry->setTexCoordArray(1, coordinatesA.get());
    geometry->setTexCoordArray(3, coordinatesB.get());
    osg::ref_ptr<osg::Texture2D> textureA = new osg::Texture2D;
    osg::ref_ptr<osg::TextureRectangle> textureB = new osg::TextureRectangle;
    osg::ref_ptr<osg::TexEnv> environmentB = new osg::TexEnv(osg::TexEnv::DECAL);
    osg::StateSet* stateSet = geometry->getOrCreateStateSet();
    stateSet->setTextureAttributeAndModes(1, textureA.get());
    stateSet->setTextureAttribute(3, textureB.get());
    stateSet->setTextureAttribute(3, environmentB.get());
    geode->addDrawable(geometry.get());
    osg::ref_ptr<osg::Geometry> other = new osg::Geometry;
    osg::ref_ptr<osg::TexEnv> environment = new osg::TexEnv;
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D;
    osg::StateSet* otherState = other->getOrCreateStateSet();
    otherState->setTextureAttribute(2, environment.get());
    otherState->setTextureAttributeAndModes(6, texture.get());
    geode->addDrawable(other.get());

    ARTextureUnitsVisitorMover mover;
    geode->accept(mover);

    EXPECT_EQ(geometry->getTexCoordArray(0), coordinatesA.get());
    EXPECT_EQ(geometry->getTexCoordArray(1), coordinatesB.get());
    EXPECT_EQ(geometry->getTexCoordArray(2), nullptr);
    EXPECT_EQ(geometry->getTexCoordArray(3), nullptr);
    EXPECT_EQ(stateSet->getTextureAttribute(0, osg::StateAttribute::TEXTURE), textureA.get());
    EXPECT_EQ(stateSet->getTextureMode(0, GL_TEXTURE_2D) & osg::StateAttribute::ON, osg::StateAttribute::ON);
    EXPECT_EQ(stateSet->getTextureAttribute(1, osg::StateAttribute::TEXTURE), textureB.get());
    EXPECT_EQ(stateSet->getTextureAttribute(1, osg::StateAttribute::TEXENV), environmentB.get());
    EXPECT_EQ(stateSet->getTextureAttribute(3, osg::StateAttribute::TEXTURE), nullptr);
    EXPECT_EQ(stateSet->getTextureAttribute(3, osg::StateAttribute::TEXENV), nullptr);
    EXPECT_EQ(otherState->getTextureAttribute(0, osg::StateAttribute::TEXENV), environment.get());
    EXPECT_EQ(otherState->getTextureAttribute(1, osg::StateAttribute::TEXTURE), texture.get());
    EXPECT_EQ(otherState->getTextureAttribute(6, osg::StateAttribute::TEXTURE), nullptr);
}

TEST(ReplaceTextureUnit, RewritesEveryTokenFormOfTheUnitOnly)
{
    const std::string source =
        "gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;\n"
        "gl_TexCoord[1] = gl_MultiTexCoord1;\n"
        "vec4 p = vec4(gl_EyePlaneS[0].x, gl_EyePlaneT[0].y, gl_EyePlaneR[0].z, gl_EyePlaneQ[0].w);\n"
        "x = gl_TexCoord[0].st + gl_TexCoord[0].st;";
    EXPECT_EQ(replaceTextureUnit(0, 3, source),
              "gl_TexCoord[3] = gl_TextureMatrix[3] * gl_MultiTexCoord3;\n"
              "gl_TexCoord[1] = gl_MultiTexCoord1;\n"
              "vec4 p = vec4(gl_EyePlaneS[3].x, gl_EyePlaneT[3].y, gl_EyePlaneR[3].z, gl_EyePlaneQ[3].w);\n"
              "x = gl_TexCoord[3].st + gl_TexCoord[3].st;");
    EXPECT_EQ(replaceTextureUnit(2, 2, "gl_TexCoord[2]"), "gl_TexCoord[2]");
    // Moving onto a unit and back restores the text when the target unit was not used before.
    EXPECT_EQ(replaceTextureUnit(4, 1, replaceTextureUnit(1, 4, "gl_MultiTexCoord1")), "gl_MultiTexCoord1");
}
