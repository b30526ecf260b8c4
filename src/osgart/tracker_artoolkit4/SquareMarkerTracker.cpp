#include "SquareMarkerTracker.h"

namespace osgART {

SquareMarkerTracker::SquareMarkerTracker() = default;

Marker* SquareMarkerTracker::addMarker(const std::string&) { return nullptr; }

bool SquareMarkerTracker::init(int, int, const std::string&, const std::string&) { return false; }

void SquareMarkerTracker::processImage(const osg::Image&) {}

}  // namespace osgART
