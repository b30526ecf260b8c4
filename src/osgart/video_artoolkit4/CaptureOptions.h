#pragma once

#include <string>

namespace osgART
{

struct CaptureOption;

/// Options of the device text of the "video_artoolkit4" plugin.
struct CaptureOptions
{
    int deviceNumber = 1;        ///< "-devNum=N": the N-th capture device, /dev/video(N-1)
    bool flipVertical = false;   ///< "-flipV"
    bool showDialog = false;     ///< "-showDialog": there is no settings dialog; a notice says so
    bool showDeviceList = false; ///< "-showDeviceList": list the capture devices instead of opening
    std::string file;            ///< "-file=PATH": movie, still image or image sequence (name%04d.png)
    int width = 0;               ///< "-width=": requested frame size (camera) or scaling (files)
    int height = 0;              ///< "-height="
    double fps = 0.0;            ///< "-fps=": requested camera rate, or playing rate of files
    bool lockstep = false;       ///< "-lockstep": a file advances one frame per update(), not on the clock

    /// False, with a message, for unusable values; unknown options are only noted.
    bool parse(const std::string& text, std::string& error);

    /// "/dev/videoK" of the device number.
    std::string devicePath() const { return "/dev/video" + std::to_string(deviceNumber - 1); }

private:
    /// Sets the flag of that name; false for a name that is no flag.
    bool setFlag(const std::string& name);
    /// Sets an option with a value; false, with the message, for an unusable value. known: whether
    /// the name is one of these options.
    bool setValue(const CaptureOption& entry, bool& known, std::string& error);
};

} // namespace osgART
