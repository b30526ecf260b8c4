// libFuzzer target for events files loaded into scene objects: three objects of one application
// ("a", "b" and "c", so that actions can aim at each other) read the input as their events file,
// prepare their actions and then have every event fired, as the frame loop, the mouse and the
// keyboard would fire them.
#include "FuzzSupport.h"
#include "app/ARApplication.h"
#include "scene/ARObject.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NovaroFuzz::silenceConsole();
    return 0;
}

namespace
{

void fireEverything(Novaro::ARObject& object)
{
    object.onInit();
    object.onMarkerDetected();
    object.onLeftMouseClick();
    object.onRightMouseClick();
    object.onLeftMouseDoubleClick();
    object.onRightMouseDoubleClick();
    object.onMouseIn();
    object.onMouseOver();
    object.onMouseOut();
    object.onNotify();
    object.toggleSelect();
    object.toggleSelect();
    object.toggleFreeze();
    object.toggleFreeze();
    object.hide();
    object.show();
    object.onMarkerLost();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = NovaroFuzz::scratchFolder() + "/events.xml";
    NovaroFuzz::writeInput(path, data, size);

    Novaro::ARApplication application;
    std::vector<osg::ref_ptr<Novaro::ARObject>> objects;
    for (const char* name : {"a", "b", "c"})
    {
        osg::ref_ptr<Novaro::ARObject> object = new Novaro::ARObject;
        object->setName(name);
        object->setContext(&application);
        application.registerObject(object.get());
        object->loadEvents(path);
        objects.push_back(object);
    }
    for (const osg::ref_ptr<Novaro::ARObject>& object : objects)
        object->resetActions();
    for (const osg::ref_ptr<Novaro::ARObject>& object : objects)
        fireEverything(*object);
    return 0;
}
