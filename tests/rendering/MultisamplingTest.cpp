// Multisampling against what the display offers (Xvfb: 2 and 4 samples only), and the render target's size.
#include "SampleApplication.h"

#include "NotifyCapture.h"
#include "app/ARViewer.h"
#include "app/RenderTextureSize.h"

#include <gtest/gtest.h>
#include <osg/DisplaySettings>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// The display settings are global: every test leaves them as it found them.
class Multisampling : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        enterRunDirectory();
        osg::DisplaySettings::instance()->setNumMultiSamples(0);
    }
    void TearDown() override { osg::DisplaySettings::instance()->setNumMultiSamples(_previousSamples); }

private:
    unsigned int _previousSamples = osg::DisplaySettings::instance()->getNumMultiSamples();
};

} // namespace

TEST_F(Multisampling, EightSamplesFallBackToFour)
{
    ARApplication application;
    ASSERT_TRUE(application.setConfiguration(samplePath("config.xml")));
    ConfigurationData* configuration = application.getConfiguration();
    configuration->setUseAntialiasing(true);
    configuration->setAntialiasingSamples(8);

    NotifyCapture capture;
    ASSERT_TRUE(application.initGraphics(0, nullptr) && application.hasMultisampling());
    // Refused once by the set-up; the viewer then starts at the value that worked.
    EXPECT_EQ(1, capture.count(" WARNING: Multisampling value (8) NOT supported on this hardware..."));
    EXPECT_FALSE(capture.printed(" WARNING: Multisampling value (4) NOT supported on this hardware..."));
    EXPECT_TRUE(capture.printed(" Multisampling at: 4"));
    EXPECT_TRUE(capture.printed(" Multisampling value: 4"));
    EXPECT_FALSE(capture.printed(" WARNING: Antialiasing NOT supported on this hardware."));
    EXPECT_TRUE(configuration->getUseAntialiasing());
    EXPECT_EQ(4, configuration->getAntialiasingSamples());
    EXPECT_EQ(4u, osg::DisplaySettings::instance()->getNumMultiSamples());
}

TEST_F(Multisampling, ViewerRejectsCountsThatAreNoPowerOfTwo)
{
    osg::ref_ptr<ARViewer> viewer = new ARViewer;
    NotifyCapture capture;
    viewer->setMultisampling(true, 6);
    EXPECT_TRUE(capture.printed(" WARNING: Antialiasing value not valid. Disabling antialiasing."));
    EXPECT_EQ(0u, osg::DisplaySettings::instance()->getNumMultiSamples());

    capture.clear();
    viewer->setMultisampling(false, 4);
    EXPECT_EQ("", capture.text());
    EXPECT_EQ(0u, osg::DisplaySettings::instance()->getNumMultiSamples());

    // The viewer halves on its own as well, probing what the display offers (no count is no
    // multisampling).
    EXPECT_FALSE(viewer->testMultisample(0));
    capture.clear();
    viewer->setMultisampling(true, 16);
    EXPECT_EQ(1, capture.count(" WARNING: Multisampling value (16) NOT supported on this hardware..."));
    EXPECT_EQ(1, capture.count(" WARNING: Multisampling value (8) NOT supported on this hardware..."));
    EXPECT_FALSE(capture.printed(" WARNING: Multisampling value (4) NOT supported on this hardware..."));
    EXPECT_TRUE(capture.printed(" Multisampling value: 4"));
    EXPECT_EQ(4u, osg::DisplaySettings::instance()->getNumMultiSamples());
}

TEST(RenderTextureSize, ScreenSizeWithNonPowerOfTwoTexturesElseThePowerOfTwoAbove)
{
    EXPECT_EQ(1280, renderTextureSize(1280, true));
    EXPECT_EQ(2048, renderTextureSize(1280, false));
    // Strictly above: a power of two itself still doubles.
    EXPECT_EQ(2048, renderTextureSize(1024, false));
    EXPECT_EQ(1024, renderTextureSize(1023, false));
    EXPECT_EQ(1, renderTextureSize(0, false));
}
