#include "effects/TextPanel.h"

namespace Novaro
{

TextPanel::TextPanel()
{
    _backgroundPlane = new BackgroundPlane;
    addChild(_backgroundPlane.get());

    _textGeode = new osg::Geode;
    _text = new osgText::Text;
    _text->setFont(_fontName);
    _text->setCharacterSize(static_cast<float>(_characterSize));
    _text->setPosition(osg::Vec3(_marginLeft, -_marginTop, -0.5f));
    _textGeode->addDrawable(_text.get());
    addChild(_textGeode.get());
}

void TextPanel::setText(const std::string& text)
{
    _textString = text;
    _text->setText(text);
    _text->setDrawMode(osgText::Text::TEXT);
    _text->setAlignment(osgText::Text::LEFT_TOP);

    // The plane follows the text's extent plus the margins around it.
    const osg::BoundingBox& box = _text->getBoundingBox();
    const float textWidth = box.valid() ? box.xMax() - box.xMin() : 0.0f;
    const float textHeight = box.valid() ? box.yMax() - box.yMin() : 0.0f;
    _backgroundPlane->setSize(textWidth + _marginLeft + _marginRight,
                              textHeight + _marginTop + _marginBottom);
    _text->setPosition(osg::Vec3(_marginLeft, -_marginTop, -0.5f));

    // The anchor offsets depend on the plane's size, which has just changed.
    applyAnchor();
}

void TextPanel::setAlignmentAnchor(int anchor)
{
    _anchor = anchor;
    applyAnchor();
}

void TextPanel::applyAnchor()
{
    // Column of the anchor moves the panel left by none, half or all of its width; its row moves
    // it up by none, half or all of its height. Anything outside 0..8 leaves the panel in place.
    float dx = 0.0f;
    float dy = 0.0f;
    if (_anchor >= 0 && _anchor <= 8)
    {
        dx = _backgroundPlane->getWidth() * 0.5f * static_cast<float>(_anchor % 3);
        dy = _backgroundPlane->getHeight() * 0.5f * static_cast<float>(_anchor / 3);
    }
    setMatrix(osg::Matrix::translate(-dx, dy, 0.0f));
}

} // namespace Novaro
