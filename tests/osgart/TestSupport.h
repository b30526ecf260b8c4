#pragma once

#include "PlayerProcess.h"
#include "RunDirectory.h"
#include "TemporaryFolder.h"
#include "ToolSupport.h"

#include <osgART/Field.h>
#include <osgART/GenericTracker.h>
#include <osgART/GenericVideo.h>
#include <osgART/PluginManager.h>
#include <osgART/SquareMarkerDetector.h>

#include <osg/Matrixd>

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace NovaroTest
{

using Novaro::rotationErrorDegrees;

/// Runs a tool of the run directory from the folder as a user does: its exit status (-1 after a crash)
/// and, in output, what it printed.
inline int runTool(const TemporaryFolder& folder, const std::string& tool,
                   const std::vector<std::string>& arguments, std::string& output)
{
    const PlayerRun run = runExecutable(std::string(NOVARO_RUN_DIR) + "/" + tool, folder.path(), arguments);
    output = run.output;
    return run.status;
}

/// A 16 x 16 pattern image of 4 x 4 blocks of the given grey levels, row by row.
inline cv::Mat blockPattern(const std::array<int, 16>& greys)
{
    cv::Mat small(4, 4, CV_8UC1);
    for (int k = 0; k < 16; ++k)
        small.at<uchar>(k / 4, k % 4) = cv::saturate_cast<uchar>(greys[size_t(k)]);
    cv::Mat pattern;
    cv::resize(small, pattern, cv::Size(16, 16), 0, 0, cv::INTER_NEAREST);
    return pattern;
}

/// A frontal marker 96 pixels wide (pattern cells of 3 pixels) in a 320 x 240 frame of paper grey
/// 235, its ring ink 20 and the pattern's white cells the light grey, blurred by a Gaussian of
/// standard deviation blur pixels.
inline cv::Mat frontalMarker(const cv::Mat& pattern, double light, double blur)
{
    const double ink = 20.0, paper = 235.0;
    cv::Mat frame(240, 320, CV_8UC1, cv::Scalar(paper));
    frame(cv::Rect(112, 72, 96, 96)).setTo(ink);
    cv::Mat inner;
    cv::resize(pattern, inner, cv::Size(48, 48), 0, 0, cv::INTER_NEAREST);
    inner.convertTo(inner, CV_8U, (light - ink) / 255.0, ink);
    inner.copyTo(frame(cv::Rect(136, 96, 48, 48)));
    cv::GaussianBlur(frame, frame, cv::Size(0, 0), blur);
    return frame;
}

/// A detector for the camera with the patterns, in order.
inline osgART::SquareMarkerDetector detectorFor(const osgART::CameraParameters& camera,
                                                const std::vector<osgART::Pattern>& patterns)
{
    osgART::SquareMarkerDetector detector;
    detector.setCamera(camera);
    for (const osgART::Pattern& pattern : patterns)
        detector.addPattern(pattern);
    return detector;
}

/// The squares the detector finds in the grey frame.
inline std::vector<osgART::DetectedSquare> detectIn(osgART::SquareMarkerDetector& detector,
                                                    const cv::Mat& grey)
{
    std::vector<osgART::DetectedSquare> found;
    detector.detect(grey, 1, found);
    return found;
}

/// The pattern of each square found, in the detector's order.
inline std::vector<int> patternsOf(const std::vector<osgART::DetectedSquare>& found)
{
    std::vector<int> patterns;
    for (const osgART::DetectedSquare& square : found)
        patterns.push_back(square.pattern);
    return patterns;
}

/// The first bytes of a PNG file whose header claims width x height pixels (no image data).
inline std::string pngHeader(uint32_t width, uint32_t height)
{
    std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(char((value >> shift) & 0xff));
    bytes += std::string("\x08\x02\0\0\0\0\0\0\0", 9); // 8-bit RGB, CRC not checked here
    return bytes;
}

inline osgART::GenericTracker* loadTracker()
{
    usePluginFolder();
    if (!osgART::PluginManager::instance()->load("osgart_tracker_artoolkit4"))
        return nullptr;
    return dynamic_cast<osgART::GenericTracker*>(
        osgART::PluginManager::instance()->get("tracker_artoolkit4"));
}

/// The tracker's field of that name and type, or null.
template <typename T>
osgART::TypedField<T>* trackerField(osgART::GenericTracker& tracker, const std::string& name)
{
    return dynamic_cast<osgART::TypedField<T>*>(tracker.get(name));
}

/// Sets the tracker's field of that name and type, failing the test when it has none.
template <typename T> void setField(osgART::GenericTracker& tracker, const std::string& name, T value)
{
    osgART::TypedField<T>* field = trackerField<T>(tracker, name);
    ASSERT_NE(field, nullptr) << name;
    field->set(value);
}

/// The tracker's debug image, or null when it has none.
inline osg::ref_ptr<osg::Image> debugImage(osgART::GenericTracker& tracker)
{
    auto* field = trackerField<osg::ref_ptr<osg::Image>>(tracker, "debug_image");
    return field != nullptr ? field->get() : nullptr;
}

inline osgART::GenericVideo* loadVideo()
{
    usePluginFolder();
    if (!osgART::PluginManager::instance()->load("osgart_video_artoolkit4"))
        return nullptr;
    return dynamic_cast<osgART::GenericVideo*>(osgART::PluginManager::instance()->get("video_artoolkit4"));
}

inline double relativeTranslationError(const osg::Matrixd& measured, const osg::Matrixd& truth)
{
    return (measured.getTrans() - truth.getTrans()).length() / truth.getTrans().length();
}

} // namespace NovaroTest
