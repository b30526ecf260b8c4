// Head-up display layout: panel positions on the window's grid, resizing on new text, no window.
#include "HUDTestSupport.h"

#include <gtest/gtest.h>
#include <osg/io_utils>

#include <string>

using namespace Novaro;
using NovaroTest::HUDTest;

namespace
{

// The panel's rectangle in window pixels: position transform, anchor offset, plane extent.
struct Rectangle
{
    float left, right, bottom, top;
};

Rectangle panelRectangle(HUD* hud)
{
    TextPanel* panel = hud->getTextPanel();
    const osg::Vec3 origin =
        osg::Vec3(hud->getPositionTransform()->getPosition()) + panel->getMatrix().getTrans();
    BackgroundPlane* plane = panel->getBackgroundPlane();
    return {origin.x(), origin.x() + plane->getWidth(), origin.y() - plane->getHeight(), origin.y()};
}

} // namespace

TEST_F(HUDTest, PositionsPlaceThePanelOnAGridInsideTheWindow)
{
    const float width = WindowWidth, height = WindowHeight;
    for (int position = 0; position < 9; ++position)
    {
        SCOPED_TRACE("position " + std::to_string(position));
        const int id = huds.addText("Some status text", position);
        ASSERT_EQ(position, id);
        const Rectangle r = panelRectangle(huds.getHUD(id));
        EXPECT_GT(r.right - r.left, 20.0f);

        // Columns: left edge, centre or right edge; rows: top edge, middle or bottom edge.
        const float across[] = {r.left, (r.left + r.right) / 2, r.right};
        const float down[] = {r.top, (r.bottom + r.top) / 2, r.bottom};
        EXPECT_FLOAT_EQ(width * (position % 3) / 2, across[position % 3]);
        EXPECT_FLOAT_EQ(height * (2 - position / 3) / 2, down[position / 3]);
    }
    // Outside the grid: the top-left corner.
    for (int outside : {-1, 9})
    {
        const Rectangle r = panelRectangle(huds.getHUD(huds.addText("Some status text", outside)));
        EXPECT_FLOAT_EQ(0.0f, r.left) << outside;
        EXPECT_FLOAT_EQ(height, r.top) << outside;
    }
}

TEST_F(HUDTest, NewTextResizesThePlaneAndKeepsTheAnchor)
{
    const int id = huds.addText("Short", 8);
    HUD* hud = huds.getHUD(id);
    BackgroundPlane* plane = hud->getTextPanel()->getBackgroundPlane();
    const float shortWidth = plane->getWidth();

    hud->setText("A much longer status message than before");
    const osg::BoundingBox& box = hud->getTextPanel()->getTextDrawable()->getBoundingBox();
    const float textWidth = box.xMax() - box.xMin();
    EXPECT_GT(textWidth, 200.0f) << "font not loaded?";
    EXPECT_FLOAT_EQ(textWidth + 20.0f, plane->getWidth());
    EXPECT_FLOAT_EQ(box.yMax() - box.yMin() + 20.0f, plane->getHeight());
    EXPECT_GT(plane->getWidth(), shortWidth);

    // Bottom-right anchored: the wider panel grows to the left and still ends at the corner.
    const Rectangle r = panelRectangle(hud);
    EXPECT_FLOAT_EQ(static_cast<float>(WindowWidth), r.right);
    EXPECT_FLOAT_EQ(0.0f, r.bottom);
}

TEST_F(HUDTest, WithoutAWindowNothingIsAddedAndNothingBreaks)
{
    osg::ref_ptr<osgViewer::Viewer> windowless = new osgViewer::Viewer;
    HUDList list;
    list.setViewer(windowless.get());
    EXPECT_TRUE(list.init());

    EXPECT_EQ(-1, list.addText("Starting...", 0));
    EXPECT_EQ(0u, list.getNumHUDs());

    // Status updates on the missing HUD go nowhere without harm.
    EXPECT_EQ(nullptr, list.getHUD(-1));
    list.setText(-1, "x");
    list.setTimed(-1, true);
    list.show(-1);
    list.hide(0);

    list.showVideo(nullptr);
    list.closeVideo();
    list.toggleVideoPanel();
    EXPECT_EQ(nullptr, list.getVideoHUD());
    EXPECT_EQ(-1, HUDList().addText("x", 0));

    osg::ref_ptr<HUD> orphan = new HUD(nullptr);
    orphan->setTimed(true);
    orphan->show();
    EXPECT_TRUE(orphan->isShown());
}
