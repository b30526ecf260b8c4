#include "Display.h"

#include <osgART/VideoLayer.h>

#include <gtest/gtest.h>

#include <osg/Camera>
#include <osgViewer/Viewer>

#include <array>
#include <climits>

namespace
{

// Quadrants of a 40 x 30 picture, rows bottom-up as OpenGL reads them.
osg::ref_ptr<osg::Image> quadrantImage()
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(40, 30, 1, GL_RGB, GL_UNSIGNED_BYTE, 1);
    for (int row = 0; row < 30; ++row)
        for (int column = 0; column < 40; ++column)
        {
            unsigned char* pixel = image->data(column, row);
            const bool top = row >= 15, right = column >= 20;
            pixel[0] = top == right ? 255 : 0;
            pixel[1] = right ? 255 : 0;
            pixel[2] = top ? 255 : 0;
        }
    return image;
}

// Renders the layer under an unrelated perspective projection into an 80 x 60 image.
osg::ref_ptr<osg::Image> render(int textureMode)
{
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->readDISPLAY();
    traits->width = 80; // at x = y = 0
    traits->height = 60;
    traits->pbuffer = true;
    traits->windowDecoration = false;
    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    if (!context.valid())
        return nullptr;

    osg::ref_ptr<osgART::VideoLayer> layer = new osgART::VideoLayer(quadrantImage().get(), 1);
    layer->setTextureMode(textureMode);
    layer->init();
    osgViewer::Viewer viewer;
    viewer.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    viewer.getCamera()->setGraphicsContext(context.get());
    viewer.getCamera()->setViewport(0, 0, 80, 60);
    viewer.getCamera()->setProjectionMatrixAsPerspective(40.0, 4.0 / 3.0, 1.0, 100.0);
    viewer.getCamera()->setViewMatrix(osg::Matrixd::translate(3.0, 1.0, -20.0));
    viewer.getCamera()->setClearColor(osg::Vec4(0, 0, 0, 1));
    osg::ref_ptr<osg::Image> result = new osg::Image;
    result->allocateImage(80, 60, 1, GL_RGB, GL_UNSIGNED_BYTE);
    viewer.getCamera()->setRenderTargetImplementation(osg::Camera::FRAME_BUFFER_OBJECT);
    viewer.getCamera()->attach(osg::Camera::COLOR_BUFFER, result.get());
    viewer.setSceneData(layer.get());
    viewer.setCameraManipulator(nullptr);
    viewer.realize();
    if (!viewer.isRealized())
        return nullptr;
    viewer.frame();
    viewer.frame();
    return result;
}

void expectColour(const osg::Image& image, int x, int y, int red, int green, int blue)
{
    const unsigned char* pixel = image.data(x, y);
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_NEAR(pixel[channel], (std::array<int, 3>{red, green, blue})[size_t(channel)], 40)
            << "at " << x << "," << y;
}

} // namespace

TEST(VideoLayer, FillsTheViewportWithImageRowsBottomUpInBothTextureModes)
{
    NOVARO_REQUIRE_DISPLAY();
    for (int mode : {1, 2})
    {
        osg::ref_ptr<osg::Image> result = render(mode);
        if (!result.valid())
            GTEST_SKIP() << "no OpenGL context";
        SCOPED_TRACE(mode == 1 ? "power-of-two 2-D texture" : "rectangle texture");
        expectColour(*result, 3, 3, 255, 0, 0);       // bottom-left: red
        expectColour(*result, 76, 3, 0, 255, 0);      // bottom-right: green
        expectColour(*result, 3, 56, 0, 0, 255);      // top-left: blue
        expectColour(*result, 76, 56, 255, 255, 255); // top-right: white
    }
}

TEST(VideoLayer, PowerOfTwoEndsForEverySize)
{
    // Each size and the power of two it ends at, the largest an int holds beyond it.
    const int sizes[] = {INT_MIN, -7, 0, 1, 3, 640, 1024, 1025, 1 << 30, (1 << 30) + 1, INT_MAX};
    const int ends[] = {1, 1, 1, 1, 4, 1024, 1024, 2048, 1 << 30, 1 << 30, 1 << 30};
    for (size_t k = 0; k < std::size(sizes); ++k)
        EXPECT_EQ(osgART::powerOfTwoAtLeast(sizes[k]), ends[k]) << sizes[k];
}
