#pragma once

#include <osg/FrameStamp>
#include <osg/Node>
#include <osgUtil/UpdateVisitor>

namespace NovaroTest
{

// One update traversal of the node as a new frame of the viewer's, at 'seconds' of simulation
// (and reference) time: what moves animations without a window.
inline void updateAt(osg::Node& node, double seconds)
{
    static unsigned int frame = 0;
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    stamp->setFrameNumber(++frame);
    stamp->setSimulationTime(seconds);
    stamp->setReferenceTime(seconds);
    osgUtil::UpdateVisitor visitor;
    visitor.setFrameStamp(stamp.get());
    visitor.setTraversalNumber(frame);
    node.accept(visitor);
}

} // namespace NovaroTest
