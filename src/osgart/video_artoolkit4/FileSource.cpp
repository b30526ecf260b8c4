#include "FileSource.h"

#include <osgART/InputFiles.h>

#include <osgDB/FileNameUtils>

#include <sstream>

namespace osgART
{

namespace
{

bool isStillImage(const std::string& fileName)
{
    const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(fileName));
    for (const char* known : {"png", "jpg", "jpeg", "bmp", "tif", "tiff", "ppm", "pgm", "pnm", "webp"})
        if (extension == known)
            return true;
    return false;
}

} // namespace

FileSource::FileSource(const std::string& path)
    : _path(path), _kind(path.find('%') != std::string::npos ? SEQUENCE
                         : isStillImage(path)                ? STILL
                                                             : MOVIE),
      _decoder(Novaro::MovieDecoder::PixelOrder::BGR)
{
}

bool FileSource::open(std::string& error)
{
    // A sequence names its files by a pattern; FFmpeg finds them.
    if (_kind != SEQUENCE && !isReadableRegularFile(_path))
    {
        error = "not a readable regular file";
        return false;
    }
    // The header tells a still image's size before its pixels are decoded.
    if (_kind == STILL && !checkImageHeader(_path, error))
        return false;
    return _decoder.open(_path, error);
}

FrameSource::Read FileSource::read(cv::Mat& frame, std::string& error)
{
    frame.create(_decoder.height(), _decoder.width(), CV_8UC3);
    double seconds = 0.0;
    switch (_decoder.next(frame.data, seconds))
    {
    case Novaro::MovieDecoder::Result::Picture:
        return Read::Frame;
    case Novaro::MovieDecoder::Result::EndOfStream:
        return Read::Ended;
    case Novaro::MovieDecoder::Result::Failed:
        break;
    }
    error = _decoder.lastError();
    return Read::Failed;
}

std::string FileSource::modeText() const
{
    std::ostringstream text;
    text << _decoder.width() << "x" << _decoder.height() << " at " << _decoder.frameRate() << " fps";
    return text.str();
}

bool FileSource::rewind(std::string& error)
{
    // Image sequences and some containers cannot seek: open the file again instead.
    return _decoder.rewind() || _decoder.open(_path, error);
}

} // namespace osgART
