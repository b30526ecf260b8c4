// Clipping as the user sees it: planes and capping on a tracked block, read back from the window.
#include "SampleApplication.h"
#include "SampleScene.h"

#include "NotifyCapture.h"
#include "effects/ARClippingManager.h"
#include "effects/HUD.h"
#include "effects/TextPanel.h"
#include "tracking/ARMarkerNode.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/Material>
#include <osg/ShapeDrawable>
#include <osg/io_utils>
#include <osgDB/WriteFile>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "osgART/Marker.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// The block: 40 units wide and high, standing on the marker's centre.
const float BLOCK_SIZE = 40.0f;

// Reads the window back after the main camera has drawn the scene's picture.
struct WindowReadBack : osg::Camera::DrawCallback
{
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::GraphicsContext::Traits* traits = renderInfo.getState()->getGraphicsContext()->getTraits();
        image->readPixels(0, 0, traits->width, traits->height, GL_RGB, GL_UNSIGNED_BYTE);
    }
    osg::ref_ptr<osg::Image> image = new osg::Image;
};

// A closed box whose faces glow blue whichever way they face, so that its inside shows as well
// as its outside.
void writeBlock(const std::string& path)
{
    osg::ref_ptr<osg::Geode> block = new osg::Geode;
    block->addDrawable(
        new osg::ShapeDrawable(new osg::Box(osg::Vec3(0.0f, 0.0f, BLOCK_SIZE / 2.0f), BLOCK_SIZE)));
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.1f, 0.2f, 0.5f, 1.0f));
    material->setEmission(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 0.1f, 0.5f, 1.0f));
    block->getOrCreateStateSet()->setAttributeAndModes(material.get());
    ASSERT_TRUE(osgDB::writeNodeFile(*block, path));
}

const char* const BLOCK_SCENE =
    "<scene name=\"clipping\" authoring_software=\"3dsmax\"><objects>"
    "<object name=\"block\" type=\"ARObject\"><model source=\"models/block.osgt\"/>"
    "<markers all=\"false\"><marker id=\"1\" layer=\"0\"/></markers></object>"
    "</objects></scene>";

class ClippedBlock : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        // Markers 1 and 2 facing the camera, large enough for the block to cover many pixels.
        scene = std::make_unique<SampleScene>(
            "--pattern patterns/marker_1.patt --pattern patterns/marker_2.patt --markers 2 --size 80 "
            "--min-width 120 --max-width 130 --max-tilt 0 --no-clutter --seed 1",
            2);
        const TemporaryFolder& folder = scene->directory();
        folder.write("scene.xml", BLOCK_SCENE);
        stillFrameWithoutSmoothing(*scene);
        writeBlock(folder.file("models/block.osgt"));

        enterRunDirectory();
        ASSERT_TRUE(loadSampleSettings(application, folder.path(), folder.path()) &&
                    initWithRecordedCamera(application, scene->frame()));
        application.loadSceneObjects();
        ASSERT_EQ(1u, application.getObjectCount());
        application.showStatusMessage("Starting...");
    }

    // Runs the player's loop long enough for the markers to be accepted, then keeps drawing
    // frames by hand: the still camera frame is tracked once and stays detected.
    void runUntilTracked()
    {
        application.setMaxFrames(5);
        application.run();
        ASSERT_NE(nullptr, application.getClippingManager());
        readBack = new WindowReadBack;
        application.getViewer()->getCamera()->setFinalDrawCallback(readBack.get());
    }

    osg::ref_ptr<osg::Image> shot()
    {
        application.getViewer()->frame();
        application.getViewer()->frame();
        return new osg::Image(*readBack->image, osg::CopyOp::DEEP_COPY_ALL);
    }

    ARMarkerNode* marker(unsigned int id) { return application.getMarkers().at(id).get(); }

    // The window pixel (from the bottom left) where a point of marker 1 is drawn.
    osg::Vec3i pixel(const osg::Image& image, const osg::Vec3d& point)
    {
        const osg::Vec4d clip = osg::Vec4d(point, 1.0) * marker(1)->getTrackedTransform()->getMatrix() *
                                application.getARCamera()->getProjectionMatrix();
        const int x = static_cast<int>((clip.x() / clip.w() + 1.0) * 0.5 * image.s());
        const int y = static_cast<int>((clip.y() / clip.w() + 1.0) * 0.5 * image.t());
        EXPECT_TRUE(x >= 0 && y >= 0 && x < image.s() && y < image.t()) << point.x() << " " << point.y();
        const unsigned char* data =
            image.data(std::clamp(x, 0, image.s() - 1), std::clamp(y, 0, image.t() - 1));
        return osg::Vec3i(data[0], data[1], data[2]);
    }

    // True when the two pictures show nearly the same colour at the point.
    bool same(const osg::Image& a, const osg::Image& b, const osg::Vec3d& point)
    {
        const osg::Vec3i difference = pixel(a, point) - pixel(b, point);
        return std::abs(difference.x()) + std::abs(difference.y()) + std::abs(difference.z()) < 30;
    }

    bool red(const osg::Image& image, const osg::Vec3d& point)
    {
        const osg::Vec3i colour = pixel(image, point);
        return colour.x() > 200 && colour.y() < 40 && colour.z() < 40;
    }

    // Draws and checks which quadrants of the block's top (x, y signs: ++, +-, -+, --) are cut
    // away (the camera shows) and which are whole.
    void expectQuadrantsGone(const std::vector<bool>& gone, const std::string& step)
    {
        const osg::ref_ptr<osg::Image> picture = shot();
        for (std::size_t quadrant = 0; quadrant < 4; ++quadrant)
        {
            const osg::Vec3d point(quadrant < 2 ? 12 : -12, quadrant % 2 ? -12 : 12, BLOCK_SIZE);
            EXPECT_TRUE(same(*picture, gone[quadrant] ? *empty : *plain, point)) << step << ", " << quadrant;
        }
    }

    std::unique_ptr<SampleScene> scene;
    ARApplication application;
    osg::ref_ptr<WindowReadBack> readBack;
    osg::ref_ptr<osg::Image> plain, empty;
};

} // namespace

TEST_F(ClippedBlock, PlanesCutTheBlockAndCappingFillsTheSection)
{
    // Nothing detected yet: the console and the status text, the last panel, say so.
    NotifyCapture console;
    application.setClippingEnabled(true);
    EXPECT_TRUE(console.printed("WARNING: cannot set clipping (no active markers)."));
    HUD* status = application.getHUD().getHUD(static_cast<int>(application.getHUD().getNumHUDs()) - 1);
    ASSERT_TRUE(status && status->isShown());
    EXPECT_EQ("WARNING: cannot activate clipping (no active markers found).",
              status->getTextPanel()->getText());

    runUntilTracked();
    ASSERT_TRUE(marker(1)->getMarker()->valid() && marker(2)->getMarker()->valid());
    ARClippingManager* manager = application.getClippingManager();
    EXPECT_EQ(0u, manager->getNumParents());
    plain = shot();
    marker(1)->getContentGroup()->setNodeMask(0);
    empty = shot();
    marker(1)->getContentGroup()->setNodeMask(~0u);
    const osg::Vec3d topCentre(0, 0, BLOCK_SIZE);
    ASSERT_FALSE(same(*plain, *empty, topCentre)) << "the block is not where the test looks";

    // With both markers seen, the lower ID gets the manager.
    application.setClippingEnabled(true);
    EXPECT_EQ(marker(1), application.getClippingMarker());
    expectQuadrantsGone({false, false, false, false}, "no plane");
    manager->setPlaneActive(true, 0);
    manager->selectPlane(0);
    manager->movePlane(-40.0f);
    expectQuadrantsGone({true, true, false, false}, "right plane in the middle");
    manager->rotatePlane(90.0f);
    expectQuadrantsGone({true, false, true, false}, "turned a quarter about the vertical");
    manager->movePlane(30.0f);
    expectQuadrantsGone({false, false, false, false}, "moved out along its turned normal");

    // Capping leaves a whole block as it is; once the top is cut off, the inside is red.
    manager->setPlaneActive(false, 0);
    manager->setPlaneActive(true, 4);
    manager->toggleCapping();
    expectQuadrantsGone({false, false, false, false}, "capping, top plane at the box top");
    manager->selectPlane(4);
    manager->movePlane(BLOCK_SIZE / 2.0f - 80.0f);
    const osg::ref_ptr<osg::Image> capped = shot();
    for (const osg::Vec3d& point :
         {topCentre, osg::Vec3d(12, -12, BLOCK_SIZE), osg::Vec3d(-12, 12, BLOCK_SIZE)})
        EXPECT_TRUE(red(*capped, point)) << point;
    for (const NotifyCapture::Line& line : console.lines())
        EXPECT_EQ(std::string::npos, line.second.find("shader")) << line.second;

    // Without capping, the inside of the block shows through the cut.
    manager->toggleCapping();
    const osg::ref_ptr<osg::Image> open = shot();
    EXPECT_FALSE(red(*open, topCentre));
    EXPECT_FALSE(same(*open, *plain, topCentre));
    EXPECT_FALSE(same(*open, *empty, topCentre));

    // The shown plane: a half-transparent green square over what lies behind it.
    const osg::Vec3d besideBlock(30, 30, BLOCK_SIZE / 2.0f);
    manager->showPlanes(true);
    const osg::Vec3i behind = pixel(*empty, besideBlock), seen = pixel(*shot(), besideBlock);
    EXPECT_NEAR(behind.x() / 2, seen.x(), 12);
    EXPECT_NEAR(127 + behind.y() / 2, seen.y(), 12);
    EXPECT_NEAR(behind.z() / 2, seen.z(), 12);

    application.setClippingEnabled(false);
    expectQuadrantsGone({false, false, false, false}, "clipping disabled");
}
