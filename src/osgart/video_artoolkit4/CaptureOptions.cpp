#include "CaptureOptions.h"

#include <osgART/GenericVideo.h>
#include <osgART/InputFiles.h>

#include <osg/Notify>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace osgART
{

namespace
{

bool parseInteger(const std::string& text, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || number < 0 || number > 100000)
        return false;
    value = int(number);
    return true;
}

} // namespace

bool CaptureOptions::parse(const std::string& text, std::string& error)
{
    std::vector<CaptureOption> options;
    if (!splitCaptureOptions(text, options, error))
        return false;
    for (const CaptureOption& entry : options)
    {
        const std::string& name = entry.name;
        const std::string& value = entry.value;
        const std::string& option = entry.text;
        if (name == "-devNum")
        {
            if (!parseInteger(value, deviceNumber) || deviceNumber < 1)
            {
                error = "invalid device number in \"" + option + "\" (devices count from 1)";
                return false;
            }
        }
        else if (name == "-flipV")
        {
            flipVertical = true;
        }
        else if (name == "-showDialog")
        {
            showDialog = true;
        }
        else if (name == "-lockstep")
        {
            lockstep = true;
        }
        else if (name == "-showDeviceList")
        {
            showDeviceList = true;
        }
        else if (name == "-file")
        {
            file = value;
            if (file.empty())
            {
                error = "empty file name in \"" + option + "\"";
                return false;
            }
        }
        else if (name == "-width" || name == "-height")
        {
            int& target = name == "-width" ? width : height;
            if (!parseInteger(value, target) || target == 0 || target > kMaximumImageSide)
            {
                error = "invalid frame size in \"" + option + "\" (1.." + std::to_string(kMaximumImageSide) +
                        " pixels)";
                return false;
            }
        }
        else if (name == "-fps")
        {
            char* end = nullptr;
            fps = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(fps > 0.0) || fps > 1000.0)
            {
                error = "invalid frame rate in \"" + option + "\"";
                return false;
            }
        }
        else
        {
            osg::notify(osg::NOTICE) << "osgART: video option \"" << option << "\" ignored" << std::endl;
        }
    }
    return true;
}

} // namespace osgART
