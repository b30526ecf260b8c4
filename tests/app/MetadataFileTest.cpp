// The metadata file is read within bounds and names only files inside the scene.
#include "app/MetadataFile.h"
#include "settings/SceneBoundary.h"

#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Novaro;

TEST(MetadataFile, AnOversizedFileIsNotReadAndNamesLeadingOutsideAreCutToTheirLastComponent)
{
    NovaroTest::TemporaryFolder scene;
    NovaroTest::NotifyCapture capture(osg::FATAL);
    // One line of 50 MB once cost half a gigabyte and was echoed whole.
    const std::string huge = scene.write("huge.dat", "scene @ " + std::string(100 * 1024, 'x') + "\n");
    EXPECT_TRUE(MetadataFile::entries(huge).empty());
    EXPECT_EQ(1, capture.count(" WARNING: " + huge + ": not read: file is larger than 65536 bytes"))
        << capture.text();

    const std::string path = scene.write("model.dat", "config @ config.xml\nscene @ ../../home/me/.profile\n"
                                                      "markers @ " +
                                                          std::string(2000, 'm') + "\n");
    SceneBoundary::setFolders({scene.path()});
    const std::vector<MetadataFile::Entry> entries = MetadataFile::entries(path);
    SceneBoundary::clear();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(std::make_tuple("config.xml", "", ".profile", "../../home/me/.profile", 2),
              std::make_tuple(entries[0].value, entries[0].refusedValue, entries[1].value,
                              entries[1].refusedValue, entries[1].line));
    EXPECT_EQ(1024u + 3u, entries[2].value.size()) << "cut, and marked as cut";
}
