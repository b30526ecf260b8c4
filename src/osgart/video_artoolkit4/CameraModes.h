#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace osgART
{

/// One combination a camera offers: pixel format (V4L2 four letters), frame size and rate.
struct CameraMode
{
    uint32_t fourcc = 0;
    int width = 0;
    int height = 0;
    double fps = 0.0; ///< 0 when the device does not tell its rates
};

/// What the player asks for; 0 leaves a value to the default.
struct CameraRequest
{
    int width = 0;
    int height = 0;
    double fps = 0.0;
};

/// Asked for when nothing is: the size the tracker and the sample calibrations are made for.
const int kDefaultCameraWidth = 640;
const int kDefaultCameraHeight = 480;
const double kDefaultCameraRate = 30.0;

/// The mode nearest to the request among those whose format can be converted: first the nearest
/// size (by ratio, so 1280 is as far from 640 as 320 is), then the nearest rate, then the format
/// cheapest to convert. False when no mode has a convertible format.
bool chooseCameraMode(const std::vector<CameraMode>& modes, const CameraRequest& request, CameraMode& chosen);

/// The modes as listing lines, one per format in the device's order, each size once with its rates:
/// "  YUYV: 640x480 (30, 15 fps), 1280x720 (10 fps)".
std::vector<std::string> describeCameraModes(const std::vector<CameraMode>& modes);

} // namespace osgART
