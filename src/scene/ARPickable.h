#pragma once

#include <osg/MatrixTransform>

namespace Novaro
{

// A transform the mouse can pick: scene objects and clipping-plane handles. The mouse handler
// calls these hooks on the nearest pickable hit; each does nothing unless a subclass says so.
class ARPickable : public osg::MatrixTransform
{
public:
    ARPickable() = default;

    virtual void onLeftMouseClick() {}
    virtual void onRightMouseClick() {}
    virtual void onLeftMouseDoubleClick() {}
    virtual void onRightMouseDoubleClick() {}
    virtual void onMouseOver() {}
    virtual void onMouseIn() {}
    virtual void onMouseOut() {}

protected:
    ~ARPickable() override = default;
};

} // namespace Novaro
