#pragma once

#include <osg/Geode>
#include <osg/NodeVisitor>

namespace Novaro
{

// Moves every drawable's textures and texture coordinates down to the lowest units without gaps,
// keeping their order. Video objects need this so that their chroma-key shader finds the movie on
// unit 0 whatever unit the exporter put it on.
class ARTextureUnitsVisitorMover : public osg::NodeVisitor
{
public:
    ARTextureUnitsVisitorMover();

    void apply(osg::Geode& geode) override;
};

} // namespace Novaro
