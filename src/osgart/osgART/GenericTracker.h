#pragma once

#include <osg/Image>
#include <osg/Matrixd>
#include <osg/Referenced>
#include <osg/ref_ptr>

#include <string>
#include <vector>

#include "Field.h"
#include "Marker.h"

namespace osgART
{

/// A marker tracker working on the frames of a video image. Fields: "threshold" (int, 0..255),
/// "imageProcMode" (int, 1 = half resolution, 0 = full), "debug" (bool) and "debug_image"
/// (osg::ref_ptr<osg::Image>, the binarised frame, updated while debug is on).
class GenericTracker : public osg::Referenced, public FieldContainer
{
public:
    GenericTracker();

    unsigned getMarkerCount() const { return static_cast<unsigned>(_markers.size()); }
    /// The marker at index, nullptr when out of range.
    Marker* getMarker(int index);

    /// Adds a marker from "single;PATH;SIZE;CX;CY" or "multi;PATH;SIZE;CX;CY"; it becomes the last
    /// index. nullptr when the text or its files are unusable.
    virtual Marker* addMarker(const std::string& description) = 0;

    /// OpenGL projection (near 10, far 10000) from the camera intrinsics scaled to the video size.
    osg::Matrixd getProjectionMatrix() const { return _projectionMatrix; }

    /// Reads the camera file and the pattern file (which may be empty or name no markers) for a video
    /// of width x height.
    virtual bool init(int width, int height, const std::string& cameraFile,
                      const std::string& patternFile) = 0;

    virtual void setImage(osg::Image* image);
    osg::Image* getImage() { return _image.get(); }

    /// Processes the image once when it changed since the last processing (osg::Image::dirty()
    /// forces one processing).
    void update();

    /// One step of a processing and its wall-clock time.
    struct StageTime
    {
        std::string name;
        double milliseconds = 0.0;
    };
    /// The steps of the last processing and their times, in pipeline order (for frame statistics);
    /// empty when the tracker does not measure them.
    virtual std::vector<StageTime> stageTimes() const { return {}; }

protected:
    ~GenericTracker() override = default;

    /// One processing of the current image.
    virtual void processImage(const osg::Image& image) = 0;

    std::vector<osg::ref_ptr<Marker>> _markers;
    osg::Matrixd _projectionMatrix;
    osg::ref_ptr<osg::Image> _image;

private:
    const osg::Image* _processedImage;
    unsigned int _processedModifiedCount;
};

} // namespace osgART
