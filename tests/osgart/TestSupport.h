#pragma once

#include "RunDirectory.h"
#include "TemporaryFolder.h"
#include "ToolSupport.h"

#include <osgART/GenericTracker.h>
#include <osgART/GenericVideo.h>
#include <osgART/PluginManager.h>

#include <osg/Matrixd>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace NovaroTest
{

using Novaro::rotationErrorDegrees;

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
