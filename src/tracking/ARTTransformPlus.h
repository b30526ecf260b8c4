#pragma once

#include "tracking/ARMarkerListener.h"
#include "tracking/ARTTransformCallbackPlus.h"

#include <vector>

#include "osgART/ARTTransform.h"

namespace Novaro
{

// The tracked transform of one marker: takes the marker's pose from the tracker through its
// update callback and tells the objects on the marker when it is found and lost.
class ARTTransformPlus : public osgART::ARTTransform
{
public:
    explicit ARTTransformPlus(osgART::Marker* marker);

    // Adds an object to be told about detection and loss; an object already listed is kept once.
    void addListener(ARMarkerListener* object);
    const std::vector<ARMarkerListener*>& getListeners() const { return _listeners; }

    void setFreeze(bool frozen);
    void setTrackingPlus(bool on);
    ARTTransformCallbackPlus* getTrackingCallback() const { return _callback.get(); }

protected:
    ~ARTTransformPlus() override;

private:
    std::vector<ARMarkerListener*> _listeners;
    osg::ref_ptr<ARTTransformCallbackPlus> _callback;
};

} // namespace Novaro
