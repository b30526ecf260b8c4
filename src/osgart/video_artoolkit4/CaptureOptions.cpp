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
        if (setFlag(entry.name))
            continue;
        bool known = false;
        if (!setValue(entry, known, error))
            return false;
        if (!known)
            osg::notify(osg::NOTICE) << "osgART: video option \"" << entry.text << "\" ignored" << std::endl;
    }
    return true;
}

bool CaptureOptions::setFlag(const std::string& name)
{
    if (name == "-flipV")
        flipVertical = true;
    else if (name == "-showDialog")
        showDialog = true;
    else if (name == "-lockstep")
        lockstep = true;
    else if (name == "-showDeviceList")
        showDeviceList = true;
    else
        return false;
    return true;
}

bool CaptureOptions::setValue(const CaptureOption& entry, bool& known, std::string& error)
{
    const std::string& name = entry.name;
    const std::string& value = entry.value;
    const std::string& option = entry.text;
    known = true;
    std::string problem;
    if (name == "-devNum")
    {
        if (!parseInteger(value, deviceNumber) || deviceNumber < 1)
            problem = "invalid device number in \"" + option + "\" (devices count from 1)";
    }
    else if (name == "-file")
    {
        file = value;
        if (file.empty())
            problem = "empty file name in \"" + option + "\"";
    }
    else if (name == "-width" || name == "-height")
    {
        int& target = name == "-width" ? width : height;
        if (!parseInteger(value, target) || target == 0 || target > kMaximumImageSide)
            problem = "invalid frame size in \"" + option + "\" (1.." + std::to_string(kMaximumImageSide) +
                      " pixels)";
    }
    else if (name == "-fps")
    {
        char* end = nullptr;
        fps = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0' || !(fps > 0.0) || fps > 1000.0)
            problem = "invalid frame rate in \"" + option + "\"";
    }
    else
        known = false;
    if (problem.empty())
        return true;
    error = problem;
    return false;
}

} // namespace osgART
