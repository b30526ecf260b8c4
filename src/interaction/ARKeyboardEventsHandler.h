#pragma once

#include "interaction/ARInteractionWindow.h"

#include <osg/ApplicationUsage>
#include <osgGA/GUIEventHandler>

#include <map>
#include <string>

namespace Novaro
{

// What every keyboard mode shares: the window it acts in, its help panel (the nine common
// bindings plus the mode's own) and a buffer for its status texts. Events reach a mode only
// through the window's own viewer; no event is ever consumed, so the mode manager, the
// mouse handler and the current mode all see every key.
class ARKeyboardEventsHandler : public osgGA::GUIEventHandler
{
public:
    // The modifier groups the modes tell apart. Control is looked at before Alt (and Super), so a
    // key held with both counts as a Control key.
    enum Modifier
    {
        MODIFIER_NONE,
        MODIFIER_CTRL,
        MODIFIER_ALT
    };
    static Modifier modifierOf(int modifierKeyMask);

    // The name every help panel carries.
    static const char* const applicationName;
    // Puts the application name, the description and the common bindings (mode keys and Escape)
    // on a help panel.
    static void addCommonBindings(osg::ApplicationUsage& usage, const std::string& description);

    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& adapter) override;

    osg::ApplicationUsage* getApplicationUsage() const { return _usage.get(); }
    ARInteractionWindow* getWindow() const { return _window; }

protected:
    ARKeyboardEventsHandler(ARInteractionWindow* window, const std::string& description);
    ~ARKeyboardEventsHandler() override = default;

    // KEYDOWN (repeated while a key is held) and KEYUP of the window's viewer.
    virtual void keyPressed(const osgGA::GUIEventAdapter&) {}
    virtual void keyReleased(const osgGA::GUIEventAdapter&) {}

    void addBinding(const std::string& option, const std::string& explanation);
    // Formats a status text into the buffer and shows it on the status panel.
    void showStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ARInteractionWindow* _window;
    osg::ref_ptr<osg::ApplicationUsage> _usage;
    // How each key still down was typed (the character and the modifiers held), by its
    // unmodified key.
    struct Press
    {
        int key;
        int modifiers;
    };
    std::map<int, Press> _pressesHeld;
    // The longest status text is about 40 characters.
    char _statusText[128];

private:
    // The event as the modes read it: the unmodified key under CTRL or ALT, and a release as its
    // press was typed (its character and modifiers).
    osg::ref_ptr<osgGA::GUIEventAdapter> chordOf(const osgGA::GUIEventAdapter& event);
};

} // namespace Novaro

// The object-identity operations of a handler; a copy is built on the same services (the
// constructor's arguments).
#define NOVARO_KEYBOARD_HANDLER_IDENTITY(name, ...)                                                          \
    const char* libraryName() const override                                                                 \
    {                                                                                                        \
        return "Novaro";                                                                                     \
    }                                                                                                        \
    const char* className() const override                                                                   \
    {                                                                                                        \
        return #name;                                                                                        \
    }                                                                                                        \
    bool isSameKindAs(const osg::Object* object) const override                                              \
    {                                                                                                        \
        return dynamic_cast<const name*>(object) != nullptr;                                                 \
    }                                                                                                        \
    osg::Object* cloneType() const override                                                                  \
    {                                                                                                        \
        return new name(__VA_ARGS__);                                                                        \
    }                                                                                                        \
    osg::Object* clone(const osg::CopyOp&) const override                                                    \
    {                                                                                                        \
        return new name(__VA_ARGS__);                                                                        \
    }
