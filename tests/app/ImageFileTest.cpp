// Pictures the player writes (-screenshot) are written whole or not at all, and a failure says why.
#include "app/ImageFile.h"
#include "SmallDisk.h"
#include "TemporaryFolder.h"

#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

using namespace Novaro;
using NovaroTest::TemporaryFolder;

namespace
{

// A picture that PNG cannot shrink much: some 190 KiB encoded.
osg::ref_ptr<osg::Image> noisyImage()
{
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(256, 256, 1, GL_RGB, GL_UNSIGNED_BYTE);
    uint32_t seed = 7;
    for (unsigned int i = 0; i < image->getTotalSizeInBytes(); ++i)
    {
        seed = seed * 1664525u + 1013904223u;
        image->data()[i] = static_cast<unsigned char>(seed >> 24);
    }
    return image;
}

} // namespace

TEST(ImageFile, AWrittenPictureReadsBackAsIs)
{
    TemporaryFolder folder;
    osg::ref_ptr<osg::Image> image = noisyImage();
    std::string error;
    ASSERT_TRUE(writeImageFileChecked(*image, folder.file("shot.png"), error)) << error;
    osg::ref_ptr<osg::Image> back = osgDB::readRefImageFile(folder.file("shot.png"));
    ASSERT_TRUE(back.valid());
    ASSERT_EQ(back->getTotalSizeInBytes(), image->getTotalSizeInBytes());
    // PNG keeps the rows bottom-up as OpenSceneGraph gives them.
    EXPECT_EQ(std::memcmp(back->data(), image->data(), image->getTotalSizeInBytes()), 0);

    const auto refusal = [&](const osg::Image& picture, const std::string& name)
    { return writeImageFileChecked(picture, folder.file(name), error) ? "written" : error; };
    EXPECT_EQ(refusal(*image, "shot.nosuchformat"), "no image writer for the extension \"nosuchformat\"");
    EXPECT_EQ(refusal(*osg::ref_ptr<osg::Image>(new osg::Image), "empty.png"), "no image to write");
}

// (A full device behind the picture's name, left alone and named in the error: the player's camera
// errors test, which writes its screenshot there.)
TEST(ImageFile, AFullDiskKeepsNoPartialFile)
{
    TemporaryFolder folder;
    NovaroTest::SmallDisk disk(folder.file("disk"), 64);
    if (!disk.mounted())
        GTEST_SKIP() << "no privilege to mount a file system";
    const std::string path = folder.file("disk/shot.png");
    std::string error;
    EXPECT_FALSE(writeImageFileChecked(*noisyImage(), path, error));
    EXPECT_EQ(error, "No space left on device");
    EXPECT_FALSE(std::filesystem::exists(path));
}
