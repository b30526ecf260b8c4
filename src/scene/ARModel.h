#pragma once

#include "scene/ARObject.h"

namespace Novaro
{

// A scene object with a menu and a selection box among its children, shown and hidden by the
// menu and selection-box actions through their node masks. Scene loading builds none yet: the
// scene file names menu files, but no reader turns them into nodes, so those actions find no
// model to act on in a loaded scene.
class ARModel : public ARObject
{
public:
    using ARObject::ARObject;

    osg::Node* getMenu() const { return _menu.get(); }
    void setMenu(osg::Node* menu) { _menu = menu; }
    osg::Node* getSelectionBox() const { return _selectionBox.get(); }
    void setSelectionBox(osg::Node* box) { _selectionBox = box; }

protected:
    ~ARModel() override = default;

private:
    osg::ref_ptr<osg::Node> _menu;
    osg::ref_ptr<osg::Node> _selectionBox;
};

} // namespace Novaro
