#pragma once

#include <osg/Geode>
#include <osg/NodeVisitor>
#include <osg/ref_ptr>

namespace Novaro
{

// Finds the last geode of a subgraph in depth-first order (geodes are not descended into).
class ARGeodeVisitor : public osg::NodeVisitor
{
public:
    ARGeodeVisitor();

    void apply(osg::Node& node) override;

    osg::Geode* getGeode() const { return _geode.get(); }

private:
    osg::ref_ptr<osg::Geode> _geode;
};

} // namespace Novaro
