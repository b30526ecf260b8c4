#pragma once

#include <osg/ImageStream>

#include <mutex>
#include <string>
#include <vector>

namespace osgART
{

/// Options of a video source, set before open(). deviceconfig is the device text
/// ("-devNum=1 -flipV -file=movie.mp4 ...").
struct VideoConfiguration
{
    std::string deviceconfig;
};

/// One option of a device text, as "-name", "-name=value" or "-name=\"quoted value\"".
struct CaptureOption
{
    std::string name;  ///< "-file"
    std::string value; ///< unquoted; empty for a flag
    std::string text;  ///< the option as written, for messages
};

/// The value in double quotes, with '"' and '\\' escaped by a backslash, so that the device-text
/// parser takes "-file=" + the result as one option whatever the value holds (" -width=9", quotes,
/// blanks).
std::string quoteCaptureOptionValue(const std::string& value);

/// Splits a device text into its options. Options are separated by blanks; an unquoted value goes
/// on over blanks up to the next word starting with "-" (older exporters write file names with
/// blanks unquoted); a quoted value ends at its closing quote only. False, with a message in error,
/// for an unterminated quoted value or text glued to a closing quote.
bool splitCaptureOptions(const std::string& text, std::vector<CaptureOption>& options, std::string& error);

/// A video source whose image is the newest captured frame. Capture runs on a thread of its own;
/// the main thread opens, starts, stops and closes it and calls update() once per frame.
class GenericVideo : public osg::ImageStream
{
public:
    GenericVideo();

    VideoConfiguration* getVideoConfiguration() { return &_videoConfiguration; }

    /// Opens the source named by the configuration; the image has its size and a first frame
    /// afterwards. False when nothing could be opened.
    virtual bool open() = 0;
    virtual void close(bool waitForThread = true) = 0;
    /// Starts and stops delivering frames.
    virtual void start() = 0;
    virtual void stop() = 0;

    /// Mirrors the frames; with vertical flip the rows are stored bottom-up, so the picture is upright
    /// when drawn with OpenGL texture rows. Takes effect for frames captured afterwards.
    virtual void setFlip(bool horizontal, bool vertical);
    bool getFlipHorizontal() const { return _flipHorizontal; }
    bool getFlipVertical() const { return _flipVertical; }

    int getWidth() const { return s(); }
    int getHeight() const { return t(); }

    /// Main thread: moves the newest captured frame, if a new one arrived, into the image and marks
    /// it modified. Cheap when nothing new arrived.
    virtual void update() = 0;
    void update(osg::NodeVisitor*) override { update(); }

    /// Why there is no live camera image: the device or file and the reason, as one line ("video
    /// device /dev/video0: device busy ..."); empty while frames arrive. Any thread may ask.
    std::string getProblem() const;

    /// Number of frames published into the image so far.
    unsigned int getFrameNumber() const { return _frameNumber; }

    void play() override;
    void pause() override;

    const char* libraryName() const override { return "osgART"; }
    const char* className() const override { return "GenericVideo"; }

protected:
    ~GenericVideo() override = default;

    void setProblem(const std::string& problem);

    VideoConfiguration _videoConfiguration;
    bool _flipHorizontal;
    bool _flipVertical;
    unsigned int _frameNumber;

private:
    mutable std::mutex _problemMutex;
    std::string _problem;
};

} // namespace osgART
