#include "interaction/KeyboardHelp.h"

#include "interaction/ARAnimationsKeyboardEventsHandler.h"
#include "interaction/ARClippingKeyboardEventsHandler.h"
#include "interaction/AREventsHandlersManager.h"
#include "interaction/ARLayersKeyboardEventsHandler.h"
#include "interaction/ARLightsKeyboardEventsHandler.h"
#include "interaction/ARMouseEventsHandler.h"
#include "interaction/ARObjectsKeyboardEventsHandler.h"
#include "interaction/ARSoundsKeyboardEventsHandler.h"
#include "interaction/ARTrackingKeyboardEventsHandler.h"
#include "interaction/ARVisualizationKeyboardEventsHandler.h"

#include <sstream>
#include <vector>

namespace Novaro
{

namespace
{

// The panel's own bindings: those every panel shares are listed once, with the manager's.
void writeBindings(std::ostream& out, const osg::ApplicationUsage& usage, const osg::ApplicationUsage* common)
{
    out << "| Keys | Action |\n|---|---|\n";
    for (const osg::ApplicationUsage::UsageMap::value_type& binding : usage.getKeyboardMouseBindings())
    {
        if (common && common->getKeyboardMouseBindings().count(binding.first))
            continue;
        std::string explanation = binding.second;
        explanation.erase(0, explanation.find_first_not_of(' '));
        out << "| " << binding.first << " | " << explanation << " |\n";
    }
}

} // namespace

std::string keyboardHelpMarkdown()
{
    // Built without a window or services: the panels are filled by the constructors alone.
    osg::ref_ptr<AREventsHandlersManager> manager = new AREventsHandlersManager(nullptr, nullptr, nullptr);
    std::vector<osg::ref_ptr<ARKeyboardEventsHandler>> modes = {
        new ARVisualizationKeyboardEventsHandler(nullptr, nullptr),
        new ARObjectsKeyboardEventsHandler(nullptr, nullptr),
        new ARAnimationsKeyboardEventsHandler(nullptr, nullptr),
        new ARSoundsKeyboardEventsHandler(nullptr, nullptr),
        new ARLayersKeyboardEventsHandler(nullptr, nullptr),
        new ARClippingKeyboardEventsHandler(nullptr, nullptr),
        new ARTrackingKeyboardEventsHandler(nullptr, nullptr),
        new ARLightsKeyboardEventsHandler(nullptr, nullptr, nullptr)};

    std::ostringstream out;
    out << "## Using the player\n\n"
        << "The keyboard works in eight modes. The function keys switch between them and show the new\n"
        << "mode's name at the top left of the window; `0` shows the current mode's name again, `h` shows\n"
        << "or hides the current mode's keys on screen. The lighting mode (F8) needs a light for shadows in\n"
        << "the scene. Keys that step a value (size limit, scale, speed, a clipping plane's or the light's\n"
        << "place) repeat while held; the others act once, on release. This section is written by\n"
        << "`novaro-keys` from the help panels.\n\n";
    writeBindings(out, *manager->getApplicationUsage(), nullptr);
    for (size_t mode = 0; mode < modes.size(); ++mode)
    {
        const osg::ApplicationUsage& usage = *modes[mode]->getApplicationUsage();
        std::string title = usage.getDescription();
        if (!title.empty() && title.back() == ':')
            title.pop_back();
        out << "\n### F" << mode + 1 << ": " << title << "\n\n";
        writeBindings(out, usage, manager->getApplicationUsage());
    }
    out << "\n### Mouse\n\n"
        << "A click (press and release at the same place) on a scene object runs the object's actions for\n"
        << "that button, and a double click its double-click actions; objects can also react to the pointer\n"
        << "entering and leaving them. A part of a model cut away by the clipping planes is not there for\n"
        << "the mouse either: the click goes to whatever is drawn behind it. Any click closes a movie "
           "playing\n"
        << "over the whole window. Holding the\n"
        << "left button for more than " << ARMouseEventsHandler::longPressSeconds
        << " seconds and releasing it quits, for touch screens without\n"
        << "a keyboard.\n";
    return out.str();
}

} // namespace Novaro
