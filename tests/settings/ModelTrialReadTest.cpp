// The trial read of a model in a program of its own, made while other threads of the player use the
// scene-graph library, and the request it is sent.
#include "settings/ModelTrialRead.h"
#include "settings/ModelFileCheck.h"

#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/Group>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Novaro;

// While a model loads, the loading window's thread loads the font plugin, and the video and
// movie threads make and drop scene-graph objects. A forked copy of the player got those threads'
// locks as they stood and could wait on one forever: a good model refused after 30 s (within a few
// rounds with either thread below). Each trial read of a good OBJ file must pass.
TEST(ModelTrialRead, AGoodModelPassesWhileOtherThreadsWorkAndTheReaderGetsNothingOpen)
{
    setTrialReader(std::string(NOVARO_RUN_DIR) + "/novaro-trial-read", {});
    const std::string model = "/usr/share/assimp/models/OBJ/box.obj";
    osgDB::Registry* registry = osgDB::Registry::instance();
    ASSERT_NE(nullptr, registry->getReaderWriterForExtension("obj"));
    std::atomic<bool> stop{false};
    std::thread loader(
        [&]
        {
            const std::string library = registry->createLibraryNameForExtension("bvh");
            while (!stop)
            {
                registry->loadLibrary(library);
                registry->closeLibrary(library);
            }
        });
    std::thread maker(
        [&]
        {
            while (!stop)
                osg::ref_ptr<osg::Group>(new osg::Group)->addChild(new osg::Group);
        });
    std::string refusal;
    for (int round = 0; round < 30 && refusal.empty(); ++round)
        refusal = trialReadModelFile(model);
    stop = true;
    loader.join();
    maker.join();
    EXPECT_EQ("", refusal);

    // Nothing the player holds open reaches the reader but its two hand-back files: one that finds
    // this test's file open, or either of those closed, fails.
    NovaroTest::TemporaryFolder folder;
    const int opened = open(folder.write("held", "").c_str(), O_RDONLY);
    const int held = fcntl(opened, F_DUPFD, 10);
    close(opened);
    const std::string reader =
        folder.write("reader", "#!/bin/sh\nexec test -e /proc/$$/fd/3 -a -e /proc/$$/fd/4 -a ! -e "
                               "/proc/$$/fd/" +
                                   std::to_string(held) + "\n");
    chmod(reader.c_str(), 0755);
    setTrialReader(reader, {});
    EXPECT_EQ("", trialReadModelFile(model));
    close(held);

    // A failure is the file's, also when whoever started the player ignored SIGCHLD (which would
    // have the status taken away unread); no trial reader at all refuses rather than reads unguarded.
    signal(SIGCHLD, SIG_IGN);
    setTrialReader("/bin/false", {});
    EXPECT_EQ("its reader failed on it (exit status 1)", trialReadModelFile(model));
    setTrialReader("", {});
    EXPECT_NE(std::string::npos, trialReadModelFile(model).find("novaro-trial-read"));
}

// No reader that trusts the file runs in the player: what the trial reader made comes back and is
// read here as a native graph, checked as a native file is, with the reader's messages; a file it
// makes nothing of comes back with the reader's reason.
TEST(ModelTrialRead, TheReadersGraphOrReasonComesBackAndItsReaderNeverRunsHere)
{
    setTrialReader(std::string(NOVARO_RUN_DIR) + "/novaro-trial-read", {});
    osgDB::Registry* registry = osgDB::Registry::instance();
    const std::string objReader = registry->createLibraryNameForExtension("obj");
    registry->closeLibrary(objReader);
    osg::ref_ptr<osg::Node> model = readModelFile("/usr/share/assimp/models/OBJ/box.obj");
    ASSERT_TRUE(model.valid());
    osg::ComputeBoundsVisitor bounds;
    model->accept(bounds);
    // The unit cube, turned from the file's y up to z up.
    EXPECT_EQ(osg::BoundingBox(-0.5f, -0.5f, -0.5f, 0.5f, 0.5f, 0.5f), bounds.getBoundingBox());
    EXPECT_EQ(nullptr, registry->getLibrary(objReader));

    NovaroTest::TemporaryFolder folder;
    NovaroTest::NotifyCapture capture(osg::NOTICE);
    const std::string note = folder.write("note.obj", "a note, no model\n");
    EXPECT_FALSE(readModelFile(note).valid());
    EXPECT_TRUE(capture.printed(" ERROR: cannot read model file " + note +
                                ": its reader found nothing to show in it."));
    EXPECT_TRUE(capture.printed("*** line not handled *** :a note, no model")) << capture.text();
    // What a reader writes to an output stream itself is said as a warning.
    EXPECT_FALSE(readModelFile(folder.write("note.dae", "a note, no model\n")).valid());
    EXPECT_EQ(osg::WARN, capture.severityOf("Error: Document is empty")) << capture.text();

    // A reader that ran the file's code may hand back anything: a graph cut short is refused.
    const std::string cut = folder.write(
        "cut.osgb",
        NovaroTest::readFile(std::string(NOVARO_SOURCE_DIR) + "/samples/models/cube.osgb").substr(0, 200));
    const std::string reader = folder.write("reader", "#!/bin/sh\ncat '" + cut + "' >&3\n");
    chmod(reader.c_str(), 0755);
    setTrialReader(reader, {});
    EXPECT_FALSE(readModelFile(note).valid());
    EXPECT_NE(std::string::npos, capture.text().find(" ERROR: refusing model file " + note +
                                                     ": what its reader made of it does not read back: "))
        << capture.text();
}

TEST(ModelTrialRead, TheRequestReachesTheReaderAsItWasSent)
{
    TrialReadRequest sent;
    sent.model = "--data";
    sent.libraryFolders = {"osgplugins", "/usr/lib/osgPlugins-3.6.5"};
    sent.dataFolders = {"", "a folder with spaces"};
    sent.sceneFolders = {"/tmp/scene"};
    sent.trustedFolders = {"/opt/novaro/share"};
    sent.notifyLevel = osg::INFO;
    const std::vector<std::string> arguments = sent.toArguments("novaro-trial-read");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    TrialReadRequest received;
    ASSERT_TRUE(received.parse(int(argv.size()), argv.data()));
    EXPECT_EQ(sent.model, received.model);
    EXPECT_EQ(sent.libraryFolders, received.libraryFolders);
    EXPECT_EQ(sent.dataFolders, received.dataFolders);
    EXPECT_EQ(sent.sceneFolders, received.sceneFolders);
    EXPECT_EQ(sent.trustedFolders, received.trustedFolders);
    EXPECT_EQ(sent.notifyLevel, received.notifyLevel);
    // A line it is not: no model, an unknown option, an option without its folder.
    for (std::vector<const char*> wrong : {std::vector<const char*>{"r"},
                                           {"r", "--data", "x"},
                                           {"r", "--network", "x", "--", "m"},
                                           {"r", "--", "m", "n"}})
        EXPECT_FALSE(TrialReadRequest().parse(int(wrong.size()), wrong.data())) << wrong.size();
}
