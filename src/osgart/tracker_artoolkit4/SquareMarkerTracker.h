#pragma once

#include <osgART/GenericTracker.h>

namespace osgART {

class SquareMarkerTracker : public GenericTracker {
public:
    SquareMarkerTracker();

    Marker* addMarker(const std::string& description) override;
    bool init(int width, int height, const std::string& cameraFile,
              const std::string& patternFile) override;

protected:
    ~SquareMarkerTracker() override = default;
    void processImage(const osg::Image& image) override;
};

}  // namespace osgART
