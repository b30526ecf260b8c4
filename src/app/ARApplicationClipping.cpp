// Clipping on the markers: the run's one clipping manager goes to the first detected marker.
#include "app/ARApplication.h"

#include "effects/ARClippingManager.h"
#include "tracking/ARMarkerNode.h"

#include "osgART/Marker.h"

namespace Novaro
{

void ARApplication::setClippingManager(ARClippingManager* manager)
{
    if (_clippingMarker)
        _clippingMarker->detachClippingManager();
    _clippingMarker = nullptr;
    _clippingManager = manager;
}

void ARApplication::setClippingEnabled(bool enabled)
{
    ARMarkerNode* found = nullptr;
    for (MarkerNodeMap::const_iterator entry = _markers.begin(); entry != _markers.end() && !found; ++entry)
    {
        const osgART::Marker* marker = entry->second->getMarker();
        if (marker && marker->valid())
            found = entry->second.get();
    }
    if (!found)
    {
        osg::notify(osg::FATAL) << "WARNING: cannot set clipping (no active markers)." << std::endl;
        updateStatusMessage("WARNING: cannot activate clipping (no active markers found).");
        return;
    }
    // Nothing to hang on the marker before run has made the manager.
    if (!_clippingManager.valid())
        return;
    if (found != _clippingMarker)
    {
        if (_clippingMarker)
            _clippingMarker->detachClippingManager();
        _clippingMarker = found;
        _clippingMarker->attachClippingManager(_clippingManager.get());
    }
    _clippingMarker->setClippingEnabled(enabled);
}

} // namespace Novaro
