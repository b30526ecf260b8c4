#pragma once

namespace osg
{
class Node;
}

namespace Novaro
{

// What cuts a marker node's content: hung beside the content while it is on that marker, and
// handed the content group to cut. The clipping manager implements it; it moves from marker to
// marker, to the lowest one detected.
class ARContentClipper
{
public:
    virtual ~ARContentClipper() = default;

    // The node hung in the marker node's clipped branch.
    virtual osg::Node* asNode() = 0;
    virtual void setClippedNode(osg::Node* node) = 0;
    virtual osg::Node* getClippedNode() const = 0;

protected:
    ARContentClipper() = default;
    ARContentClipper(const ARContentClipper&) = default;
    ARContentClipper& operator=(const ARContentClipper&) = default;
};

} // namespace Novaro
