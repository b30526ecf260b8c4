// The path rule: which names in settings files are absolute.
#include "settings/PathRule.h"

#include <gtest/gtest.h>

using namespace Novaro;

// Paths in settings files as the exporter writes them on Windows: drive letters and backslashes.
TEST(PathRule, DriveLetterAndSlashPathsAreAbsolute)
{
    EXPECT_TRUE(PathRule::isAbsolute("C:\\data\\scene.xml") && PathRule::isAbsolute("/srv/scene.xml"));
    // A name directly in a drive root has a two-character directory part: joined like any other. "C:data"
    // is relative to the drive's current folder.
    for (const char* relative : {"C:\\scene.xml", "scene.xml", "data\\scene.xml", "C:data\\scene.xml"})
        EXPECT_FALSE(PathRule::isAbsolute(relative)) << relative;

    EXPECT_EQ("C:\\data\\scene.xml", PathRule::resolve("/base", "C:\\data\\scene.xml"));
    EXPECT_EQ("/base/scene.xml", PathRule::resolve("/base", "scene.xml"));
    EXPECT_EQ("/base/data/scene.xml", PathRule::resolve("/base", "data\\scene.xml"));
    EXPECT_EQ("/base/C:/scene.xml", PathRule::resolve("/base", "C:\\scene.xml"));
}
