#pragma once

// Helpers shared by the scene tests: hanging nodes, the model reader's fixture, the process's size.

#include "RunDirectory.h"
#include "TemporaryFolder.h"

#include <osg/Group>
#include <osg/Node>
#include <osgAnimation/BasicAnimationManager>

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <string>

namespace NovaroTest
{

// Hangs the child under the parent, which keeps it.
template <typename T> T* add(osg::Group* parent, T* child)
{
    parent->addChild(child);
    return child;
}

// Models read through the run directory's plug-ins from files written into a folder of the test's own.
class AssimpReaderTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { NovaroTest::usePluginFolder(); }
    std::string path(const std::string& name) const { return folder.file(name); }

    NovaroTest::TemporaryFolder folder;
};

inline osgAnimation::BasicAnimationManager* managerOf(osg::Node* root)
{
    return dynamic_cast<osgAnimation::BasicAnimationManager*>(root->getUpdateCallback());
}

// A size of the process that /proc/self/status gives ("VmPeak:", the most address space it has held
// so far, "VmSize:", what it holds now), in bytes.
inline size_t processSize(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return static_cast<size_t>(std::stoull(line.substr(field.size()))) * 1024;
    return 0;
}

} // namespace NovaroTest
