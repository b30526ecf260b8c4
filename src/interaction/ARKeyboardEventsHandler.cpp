#include "interaction/ARKeyboardEventsHandler.h"

#include <cstdarg>
#include <cstdio>

namespace Novaro
{

// The help panels' fixed title, the same on every release: not the player's version (--version).
const char* const ARKeyboardEventsHandler::applicationName = "Novaro Framework 2.2.0";

ARKeyboardEventsHandler::ARKeyboardEventsHandler(ARInteractionWindow* window, const std::string& description)
    : _window(window), _usage(new osg::ApplicationUsage)
{
    _statusText[0] = '\0';
    addCommonBindings(*_usage, description);
}

ARKeyboardEventsHandler::Modifier ARKeyboardEventsHandler::modifierOf(int modifierKeyMask)
{
    if (modifierKeyMask & osgGA::GUIEventAdapter::MODKEY_CTRL)
        return MODIFIER_CTRL;
    if (modifierKeyMask & (osgGA::GUIEventAdapter::MODKEY_ALT | osgGA::GUIEventAdapter::MODKEY_SUPER))
        return MODIFIER_ALT;
    return MODIFIER_NONE;
}

void ARKeyboardEventsHandler::addCommonBindings(osg::ApplicationUsage& usage, const std::string& description)
{
    usage.setApplicationName(applicationName);
    usage.setDescription(description);
    usage.addKeyboardMouseBinding("F1", "Switch to Visualization Management Mode");
    usage.addKeyboardMouseBinding("F2", "Switch to Object/Scene Interaction Mode");
    usage.addKeyboardMouseBinding("F3", "Switch to Animations Management Mode");
    usage.addKeyboardMouseBinding("F4", "Switch to Sounds Management Mode");
    usage.addKeyboardMouseBinding("F5", "Switch to Layers/Sequences Management Mode");
    usage.addKeyboardMouseBinding("F6", "Switch to Clipping Management Mode");
    usage.addKeyboardMouseBinding("F7", "Switch to Tracking Management Mode");
    usage.addKeyboardMouseBinding("F8", "Switch to Lighting Management Mode");
    usage.addKeyboardMouseBinding("ESC", "Quit");
}

void ARKeyboardEventsHandler::addBinding(const std::string& option, const std::string& explanation)
{
    _usage->addKeyboardMouseBinding(option, explanation);
}

bool ARKeyboardEventsHandler::handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& adapter)
{
    if (!_window || &adapter != _window->getActionAdapter())
        return false;
    if (event.getEventType() == osgGA::GUIEventAdapter::KEYDOWN)
        keyPressed(*chordOf(event));
    else if (event.getEventType() == osgGA::GUIEventAdapter::KEYUP)
        keyReleased(*chordOf(event));
    return false;
}

// The window system hands a chord over as it was typed: with Control held a key arrives as its
// control character (CTRL+2 as 0, CTRL+a as 1), and a modifier (Shift too) is often let go a
// moment before the key, so that the release carries none and names the bare key ('=' for a
// released '+'). The modes see the key as it was typed when it went down, with the modifiers held
// then.
osg::ref_ptr<osgGA::GUIEventAdapter> ARKeyboardEventsHandler::chordOf(const osgGA::GUIEventAdapter& event)
{
    const int unmodifiedKey = event.getUnmodifiedKey() ? event.getUnmodifiedKey() : event.getKey();
    int key = event.getKey();
    int modifiers = event.getModKeyMask();
    if (event.getEventType() == osgGA::GUIEventAdapter::KEYDOWN)
        _pressesHeld[unmodifiedKey] = Press{key, modifiers};
    else
    {
        std::map<int, Press>::iterator held = _pressesHeld.find(unmodifiedKey);
        if (held != _pressesHeld.end())
        {
            key = held->second.key;
            modifiers |= held->second.modifiers;
            _pressesHeld.erase(held);
        }
    }
    osg::ref_ptr<osgGA::GUIEventAdapter> chord = new osgGA::GUIEventAdapter(event);
    chord->setModKeyMask(modifiers);
    chord->setKey(modifierOf(modifiers) != MODIFIER_NONE ? unmodifiedKey : key);
    return chord;
}

void ARKeyboardEventsHandler::showStatus(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(_statusText, sizeof(_statusText), format, arguments);
    va_end(arguments);
    _window->updateStatusMessage(_statusText);
}

} // namespace Novaro
