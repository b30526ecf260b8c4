#pragma once

#include <osg/Matrixd>
#include <osg/Referenced>
#include <osg/Vec2d>
#include <osg/ref_ptr>

#include <array>
#include <string>

#include "TransformFilterCallback.h"

namespace osgART
{

/// One tracked marker: whether it was detected in the last processed frame and its pose.
/// getTransform() maps marker coordinates (origin at the marker centre, x right and y up along the
/// upright pattern, z out of the paper, in the units of the marker size) into OpenGL camera
/// coordinates (camera looking down -z, y up).
class Marker : public osg::Referenced
{
public:
    explicit Marker(const std::string& name = std::string());

    /// Detected in the last processed frame (and active).
    bool valid() const { return _valid; }

    /// The pose, filtered by the filter callback when one is set.
    const osg::Matrixd& getTransform() const { return _transform; }
    /// The last measured pose, unfiltered.
    const osg::Matrixd& getMeasuredTransform() const { return _measured; }

    /// An inactive marker is not reported as detected.
    void setActive(bool active);
    bool active() const { return _active; }

    TransformFilterCallback* getFilterCallback() { return _filter.get(); }
    void setFilterCallback(TransformFilterCallback* callback) { _filter = callback; }

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    /// Match confidence of the last detection (0..1), 0 when not detected.
    double getConfidence() const { return _confidence; }

    /// The four outer corners as seen in the video image (pixels, origin at the top-left of the
    /// upright picture), in the order top-left, top-right, bottom-right, bottom-left of the
    /// upright pattern. Meaningful while valid(); for a multi marker, those of its best submarker.
    const std::array<osg::Vec2d, 4>& getCorners() const { return _corners; }

    /// Called by the tracker once per processed frame.
    void setDetected(double confidence, const osg::Matrixd& measured,
                     const std::array<osg::Vec2d, 4>& corners);
    void setNotDetected();

protected:
    ~Marker() override = default;

private:
    std::string _name;
    bool _valid;
    bool _active;
    bool _validBefore;
    double _confidence;
    osg::Matrixd _transform;
    osg::Matrixd _measured;
    std::array<osg::Vec2d, 4> _corners;
    osg::ref_ptr<TransformFilterCallback> _filter;
};

} // namespace osgART
