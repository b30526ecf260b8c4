#include <osgART/PluginManager.h>

#include "SquareMarkerTracker.h"

namespace
{

// Registers the tracker when the module is loaded.
struct TrackerRegistration
{
    TrackerRegistration()
    {
        osgART::PluginManager::instance()->add("tracker_artoolkit4", new osgART::SquareMarkerTracker);
    }
};

TrackerRegistration registration;

} // namespace
