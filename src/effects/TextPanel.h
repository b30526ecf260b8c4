#pragma once

#include "effects/BackgroundPlane.h"

#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osgText/Text>

#include <string>

namespace Novaro
{

// One block of text over a background plane, in window pixels. The origin is the panel's top-left
// corner; text and plane hang below and to the right of it. The alignment anchor (0 to 8, a 3x3
// grid read row by row from the top left) names the point of the panel that sits at the origin,
// so a panel placed at a window's right or bottom edge stays inside the window.
class TextPanel : public osg::MatrixTransform
{
public:
    TextPanel();

    void setText(const std::string& text);
    const std::string& getText() const { return _textString; }

    void setAlignmentAnchor(int anchor);
    int getAlignmentAnchor() const { return _anchor; }

    BackgroundPlane* getBackgroundPlane() { return _backgroundPlane.get(); }
    osgText::Text* getTextDrawable() { return _text.get(); }
    const std::string& getFontName() const { return _fontName; }

    float getMarginTop() const { return _marginTop; }
    float getMarginBottom() const { return _marginBottom; }
    float getMarginLeft() const { return _marginLeft; }
    float getMarginRight() const { return _marginRight; }

protected:
    ~TextPanel() override = default;

private:
    void applyAnchor();

    osg::ref_ptr<BackgroundPlane> _backgroundPlane;
    osg::ref_ptr<osg::Geode> _textGeode;
    osg::ref_ptr<osgText::Text> _text;
    std::string _fontName = "data/arial.ttf";
    int _characterSize = 20;
    std::string _textString;
    int _anchor = 0;
    float _marginTop = 10.0f;
    float _marginBottom = 10.0f;
    float _marginLeft = 10.0f;
    float _marginRight = 10.0f;
};

} // namespace Novaro
