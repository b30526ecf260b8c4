// Video textures of scene objects: movies on the planes of a model, named by the scene's videos
// table.
#include "scene/ARObject.h"

#include "scene/ARGeodeVisitor.h"
#include "scene/VideoTexture.h"
#include "settings/SceneData.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

void ARObject::setupVideoTextures()
{
    if (!_videoNames.empty() || !_videoStreams.empty())
    {
        osg::notify(osg::FATAL) << " ERROR: video textures/streams already set up." << std::endl;
        return;
    }
    const SceneData* scene = _context ? _context->getSceneConfiguration() : nullptr;
    if (!scene)
        return;
    for (const auto& entry : scene->getVideos())
        setupVideoTexture(entry.first, entry.second, _context->getTemporaryDirectory());
}

void ARObject::setupVideoTexture(const std::string& tag, const std::string& movie,
                                 const std::string& temporaryDirectory)
{
    ARNodeSearchByNameVisitor search(tag);
    accept(search);
    // Most objects of a scene carry none of the scene's screens; a tag that no object carries at
    // all is what the scene loading reports.
    if (!search.getNode())
        return;
    ARGeodeVisitor geodes;
    search.getNode()->accept(geodes);
    osg::Geode* geode = geodes.getGeode();
    if (!geode)
    {
        osg::notify(osg::FATAL) << "WARNING: could not find video geode: missing plane geometry (" << tag
                                << ")" << std::endl;
        return;
    }
    if (geode->getNumDrawables() == 0)
    {
        osg::notify(osg::FATAL) << "WARNING: could not get video drawable: missing plane geometry data ("
                                << tag << ")" << std::endl;
        return;
    }
    const std::string path =
        osgDB::isAbsolutePath(movie) ? movie : osgDB::concatPaths(temporaryDirectory, movie);
    osg::notify(osg::NOTICE) << " NOTICE: read movie_file: " << path << std::endl;
    osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(path, osgDB::Registry::instance()->getOptions());
    osg::ref_ptr<osg::ImageStream> stream = dynamic_cast<osg::ImageStream*>(image.get());
    if (!stream.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: unable to read file: " << path << std::endl;
        return;
    }
    osg::ref_ptr<osg::Texture2D> texture = createMovieTexture(stream.get());
    osg::StateSet* state = geode->getDrawable(0)->getOrCreateStateSet();
    const int unit = highestTexturedUnit(state);
    if (unit < 0)
    {
        osg::notify(osg::FATAL) << "WARNING: could not find any valid texture unit for video node."
                                << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << " processVideoTag: using texture unit (" << unit << ")" << std::endl;
    const unsigned int textureUnit = static_cast<unsigned int>(unit);
    state->setTextureAttributeAndModes(textureUnit, texture.get(), osg::StateAttribute::ON);
    texture->setSubloadCallback(new ITexture2DSubloadCallback(texture.get()));
    flipMovieRows(*state, textureUnit);
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    _videoNames.push_back(movie);
    _videoStreams.push_back(stream);
}

std::vector<osg::ImageStream*> ARObject::selectVideos(const std::string& name) const
{
    std::vector<osg::ImageStream*> selected;
    for (size_t index = 0; index < _videoNames.size() && index < _videoStreams.size(); ++index)
    {
        if ((name.empty() || _videoNames[index] == name) && _videoStreams[index].valid())
            selected.push_back(_videoStreams[index].get());
    }
    return selected;
}

void ARObject::playVideo(const std::string& name)
{
    for (osg::ImageStream* stream : selectVideos(name))
        stream->play();
}

void ARObject::pauseVideo(const std::string& name)
{
    for (osg::ImageStream* stream : selectVideos(name))
        stream->pause();
}

void ARObject::togglePauseVideo(const std::string& name)
{
    for (osg::ImageStream* stream : selectVideos(name))
    {
        if (stream->getStatus() == osg::ImageStream::PAUSED)
            stream->play();
        else
            stream->pause();
    }
}

void ARObject::rewindVideo(const std::string& name)
{
    for (osg::ImageStream* stream : selectVideos(name))
        stream->rewind();
}

void ARObject::loopVideo(bool loop, const std::string& name)
{
    for (osg::ImageStream* stream : selectVideos(name))
        stream->setLoopingMode(loop ? osg::ImageStream::LOOPING : osg::ImageStream::NO_LOOPING);
}

void ARObject::goFullscreenVideo(const std::string& name)
{
    if (!_context)
        return;
    if (name.empty())
    {
        if (_videoStreams.size() == 1)
            _context->showFullscreenVideo(_videoStreams.front().get());
        else
            osg::notify(osg::FATAL) << " WARNING: cannot go fullscreen (must specify a video name)"
                                    << std::endl;
        return;
    }
    const std::vector<osg::ImageStream*> selected = selectVideos(name);
    if (!selected.empty())
        _context->showFullscreenVideo(selected.front());
}

void ARObject::resignFullscreenVideo(const std::string& name)
{
    for (size_t index = 0; index < _videoNames.size() && index < _videoStreams.size(); ++index)
    {
        if (!name.empty() && _videoNames[index] != name)
            continue;
        osg::notify(osg::NOTICE) << " Video (texture)<" << _videoNames[index] << "> RESIGN FULLSCREEN"
                                 << std::endl;
        if (_videoStreams[index].valid() && _context)
            _context->hideFullscreenVideo(_videoStreams[index].get());
    }
}

void ARObject::stopVideoTextures()
{
    if (_videoNames.empty() || _videoStreams.empty())
    {
        osg::notify(osg::NOTICE) << " WARNING: no video textures/streams to clean up." << std::endl;
        return;
    }
    for (size_t index = 0; index < _videoNames.size() && index < _videoStreams.size(); ++index)
    {
        osg::notify(osg::NOTICE) << " Stopping video (texture)<" << _videoNames[index] << ">" << std::endl;
        if (_videoStreams[index].valid())
            _videoStreams[index]->rewind();
        else
            osg::notify(osg::NOTICE) << " (no stream found)" << std::endl;
    }
}

} // namespace Novaro
