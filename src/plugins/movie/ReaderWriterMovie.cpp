// OpenSceneGraph reader for movies, built on FFmpeg. The platform's OpenSceneGraph has no movie
// reader; scenes show movies on markers, on models' screens and in full screen.
//
// Carried: the best video stream of any container and codec FFmpeg 5.1 decodes, as an
// osg::ImageStream of RGB pictures (see MovieStream: decoding on its own thread, frames shown at
// their presentation times, late ones dropped, play, pause, rewind, looping, status), with the best
// sound stream played through the sound output as the clock.
// Not carried (yet): subtitles, other video streams, the picture's aspect-ratio flag (pixels are
// taken as square), rotation metadata (pictures are shown as stored), pictures larger than
// MovieDecoder's bounds.
//
// A movie that cannot be played is said once, at the level the user sees, with the file and the
// reason: the callers' own line ("unable to read file") does not know why.
//
// Registered for "qt" (start-up aliases the QuickTime-era extensions to it) and for the usual
// movie extensions; the module is built as osgdb_qt.so and linked under the other names, including
// osgdb_ffmpeg.so, the name OpenSceneGraph's own extension table sends mp4, mkv and the like to.

#include "MovieStream.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <filesystem>

extern "C"
{
#include <libavutil/log.h>
}

namespace Novaro
{

class ReaderWriterMovie : public osgDB::ReaderWriter
{
public:
    ReaderWriterMovie()
    {
        supportsExtension("qt", "QuickTime and other movies (through FFmpeg)");
        for (const char* extension :
             {"mov", "mpg", "mpeg", "avi", "mp4", "m4v", "mkv", "webm", "ogv", "ffmpeg"})
            supportsExtension(extension, "Movie (through FFmpeg)");
        // FFmpeg's own complaints about damaged streams would flood the console; the reader says
        // what matters in its own words.
        av_log_set_level(AV_LOG_FATAL);
    }

    const char* className() const override { return "FFmpeg movie reader"; }

    ReadResult readImage(const std::string& file, const Options* options) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(file)))
            return ReadResult::FILE_NOT_HANDLED;
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty())
        {
            refuse(file, "no such file");
            return ReadResult::FILE_NOT_FOUND;
        }
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(path, ignored))
        {
            refuse(path, "not a regular file");
            return ReadResult::FILE_NOT_FOUND;
        }
        std::string error;
        osg::ref_ptr<MovieStream> stream = MovieStream::open(path, error);
        if (!stream.valid())
        {
            refuse(path, error);
            return ReadResult(ReadResult::ERROR_IN_READING_FILE);
        }
        return stream.get();
    }

    static void refuse(const std::string& path, const std::string& reason)
    {
        osg::notify(osg::FATAL) << "WARNING: cannot play movie " << path << ": " << reason << std::endl;
    }

    ReadResult readObject(const std::string& file, const Options* options) const override
    {
        return readImage(file, options);
    }
};

REGISTER_OSGPLUGIN(qt, ReaderWriterMovie)

} // namespace Novaro
