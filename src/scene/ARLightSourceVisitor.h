#pragma once

#include <osg/LightSource>
#include <osg/NodeVisitor>
#include <osg/ref_ptr>

namespace Novaro
{

// Finds the last light source of a subgraph in depth-first order (light sources are not
// descended into). Lights built from a model use it to find the model's light.
class ARLightSourceVisitor : public osg::NodeVisitor
{
public:
    ARLightSourceVisitor();

    void apply(osg::Node& node) override;

    osg::LightSource* getLightSource() const { return _lightSource.get(); }

private:
    osg::ref_ptr<osg::LightSource> _lightSource;
};

} // namespace Novaro
