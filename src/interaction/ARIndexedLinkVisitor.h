#pragma once

#include <osgAnimation/LinkVisitor>

#include <string>
#include <unordered_map>
#include <vector>

namespace Novaro
{

// Links animation channels to the nodes they move, as OpenSceneGraph's LinkVisitor does, but
// through an index of the channels by target name: the library's own visitor compares every
// animated node with every channel, which for a model of 20,000 bones and 60,000 channels is a
// billion name comparisons (some 90 s) before the first frame. The index is built once per list of
// animations; each node then costs one look-up.
class ARIndexedLinkVisitor : public osgAnimation::LinkVisitor
{
public:
    void apply(osg::Node& node) override;
    void apply(osg::Geode& geode) override;

private:
    void linkByName(osgAnimation::AnimationUpdateCallbackBase& target);
    void indexChannels();

    std::unordered_map<std::string, std::vector<osgAnimation::Channel*>> _channelsByTarget;
    // What the index was built from: the animations and their channel counts.
    std::vector<std::pair<const osgAnimation::Animation*, size_t>> _indexed;
};

} // namespace Novaro
