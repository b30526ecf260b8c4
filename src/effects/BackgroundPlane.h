#pragma once

#include <osg/Geode>

namespace Novaro
{

// A flat grey rectangle behind a text panel. It hangs below and to the right of its origin, like
// the text it backs, and is rebuilt whenever its size or transparency changes.
class BackgroundPlane : public osg::Geode
{
public:
    BackgroundPlane();

    void setSize(float width, float height);
    float getWidth() const { return _width; }
    float getHeight() const { return _height; }

    void setMargin(float margin) { _margin = margin; }
    float getMargin() const { return _margin; }

    // 0 makes the plane invisible (the default), 1 opaque.
    void setAlpha(float alpha);
    float getAlpha() const { return _alpha; }

protected:
    ~BackgroundPlane() override = default;

private:
    void rebuild();

    float _width = 100.0f;
    float _height = 100.0f;
    float _margin = 10.0f;
    float _alpha = 0.0f;
};

} // namespace Novaro
