#include "CameraModes.h"

#include "FrameConverter.h"

#include <cmath>
#include <sstream>
#include <tuple>

namespace osgART
{

namespace
{

// Distance of a size from the asked one: the sum of |log| of the side ratios (0 for a match).
double sizeDistance(const CameraMode& mode, int width, int height)
{
    return std::fabs(std::log(double(mode.width) / width)) +
           std::fabs(std::log(double(mode.height) / height));
}

std::string rateText(double fps)
{
    std::ostringstream text;
    text << fps;
    return text.str();
}

} // namespace

bool chooseCameraMode(const std::vector<CameraMode>& modes, const CameraRequest& request, CameraMode& chosen)
{
    // One side asked for keeps the other free: the default then fills it at 4:3.
    const int width = request.width > 0    ? request.width
                      : request.height > 0 ? request.height * 4 / 3
                                           : kDefaultCameraWidth;
    const int height = request.height > 0  ? request.height
                       : request.width > 0 ? request.width * 3 / 4
                                           : kDefaultCameraHeight;
    const double fps = request.fps > 0.0 ? request.fps : kDefaultCameraRate;
    bool found = false;
    std::tuple<double, double, int> best;
    for (const CameraMode& mode : modes)
    {
        const int cost = formatCost(mode.fourcc);
        if (cost < 0 || mode.width <= 0 || mode.height <= 0)
            continue;
        // Rounded so that sizes or rates within a hair count as equal and the format decides.
        const double size = std::round(sizeDistance(mode, width, height) * 1000.0);
        const double rate = mode.fps > 0.0 ? std::round(std::fabs(mode.fps - fps) * 10.0) : 1e9;
        const std::tuple<double, double, int> score(size, rate, cost);
        if (!found || score < best)
        {
            best = score;
            chosen = mode;
            found = true;
        }
    }
    return found;
}

std::vector<std::string> describeCameraModes(const std::vector<CameraMode>& modes)
{
    std::vector<std::string> lines;
    for (size_t k = 0; k < modes.size(); ++k)
    {
        const CameraMode& mode = modes[k];
        const bool sameFormat = k > 0 && modes[k - 1].fourcc == mode.fourcc;
        const bool sameSize =
            sameFormat && modes[k - 1].width == mode.width && modes[k - 1].height == mode.height;
        if (!sameFormat)
            lines.push_back("  " + fourccText(mode.fourcc) + ":");
        std::string& line = lines.back();
        if (sameSize)
            line += ", ";
        else
            line += std::string(sameFormat ? " fps)," : "") + " " + std::to_string(mode.width) + "x" +
                    std::to_string(mode.height) + " (";
        line += mode.fps > 0.0 ? rateText(mode.fps) : std::string("?");
        if (k + 1 == modes.size() || modes[k + 1].fourcc != mode.fourcc)
            line += " fps)";
    }
    return lines;
}

} // namespace osgART
