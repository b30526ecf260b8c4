#include "app/ImageFile.h"

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace Novaro
{

namespace
{

bool isRegularFile(const std::string& file)
{
    struct stat status;
    return ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool encode(const osg::Image& image, const std::string& file, std::string& bytes, std::string& error)
{
    const std::string extension = osgDB::getLowerCaseFileExtension(file);
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    if (writer == nullptr)
    {
        error = "no image writer for the extension \"" + extension + "\"";
        return false;
    }
    if (image.data() == nullptr)
    {
        error = "no image to write";
        return false;
    }
    // Screenshots are written while the frame loop waits: zlib's fastest level takes a quarter of
    // the default's time for files a sixth larger. Other formats ignore the option.
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options("PNG_COMPRESSION 1");
    std::ostringstream stream(std::ios::binary);
    const osgDB::ReaderWriter::WriteResult result = writer->writeImage(image, stream, options.get());
    if (!result.success() || stream.str().empty())
    {
        error = "cannot encode the image" + (result.message().empty() ? "" : ": " + result.message());
        return false;
    }
    bytes = stream.str();
    return true;
}

bool writeBytes(const std::string& bytes, const std::string& file, std::string& error)
{
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr)
    {
        error = std::strerror(errno);
        return false;
    }
    // fflush and fclose are where a full disk shows when the data fits the buffer.
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
    if (!ok)
        error = std::strerror(errno);
    if (std::fclose(out) != 0 && ok)
    {
        error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

} // namespace

bool writeImageFileChecked(const osg::Image& image, const std::string& file, std::string& error)
{
    std::string bytes;
    if (!encode(image, file, bytes, error))
        return false;
    const bool existed = ::access(file.c_str(), F_OK) == 0;
    const bool replaceable = !existed || isRegularFile(file);
    if (writeBytes(bytes, file, error))
        return true;
    if (replaceable && isRegularFile(file))
        std::remove(file.c_str());
    return false;
}

} // namespace Novaro
