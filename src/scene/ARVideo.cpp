#include "scene/ARVideo.h"

#include "scene/ARGeodeVisitor.h"
#include "scene/ARTextureUnitsVisitorMover.h"
#include "scene/VideoTexture.h"

#include <osg/Notify>
#include <osg/Program>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

ARVideo::~ARVideo()
{
    // The stream's decoding thread must not outlive the object that plays it.
    if (_stream.valid())
        _stream->quit(true);
}

void ARVideo::setupVideo(const std::string& file, bool lighting)
{
    if (file.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: could not create video node: missing video file name."
                                << std::endl;
        return;
    }
    osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(file, osgDB::Registry::instance()->getOptions());
    _stream = dynamic_cast<osg::ImageStream*>(image.get());
    if (!_stream.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: unable to read file: " << file << std::endl;
        return;
    }
    _movieFile = file;
    _width = static_cast<float>(_stream->s());
    _height = static_cast<float>(_stream->t());

    ARGeodeVisitor geodes;
    accept(geodes);
    _geode = geodes.getGeode();
    if (!_geode.valid())
    {
        osg::notify(osg::FATAL) << " could not create video node: missing plane geometry." << std::endl;
        return;
    }
    if (_geode->getNumDrawables() == 0)
    {
        osg::notify(osg::FATAL) << " could not create video node: missing plane geometry data." << std::endl;
        return;
    }
    osg::ref_ptr<osg::Texture2D> texture = createMovieTexture(_stream.get());
    if (_chromaKey)
    {
        osg::notify(osg::NOTICE) << " Moving texture units and coordinates..." << std::endl;
        ARTextureUnitsVisitorMover mover;
        accept(mover);
        osg::notify(osg::NOTICE) << " Moving texture units and coordinates...Done." << std::endl;
    }
    osg::StateSet* state = _geode->getDrawable(0)->getOrCreateStateSet();
    const int unit = highestTexturedUnit(state);
    if (unit < 0)
    {
        osg::notify(osg::FATAL) << " WARNING: could not find any valid texture for video object."
                                << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << " ARVideo: using texture unit (" << unit << ")" << std::endl;
    state->setTextureAttributeAndModes(static_cast<unsigned int>(unit), texture.get(),
                                       osg::StateAttribute::ON);
    if (_chromaKey)
        applyChromaKey(*state, static_cast<unsigned int>(unit));
    else
        flipMovieRows(*state, static_cast<unsigned int>(unit));
    _lighting = lighting;
    setLighting(lighting);
    state->setMode(GL_LIGHTING, (lighting ? osg::StateAttribute::ON : osg::StateAttribute::OFF) |
                                    osg::StateAttribute::PROTECTED);
}

void ARVideo::applyChromaKey(osg::StateSet& state, unsigned int unit)
{
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->setName("chroma key");
    program->addShader(new osg::Shader(osg::Shader::VERTEX, chromaKeyVertexShader(unit)));
    program->addShader(
        new osg::Shader(osg::Shader::FRAGMENT, chromaKeyFragmentShader(_chromaKeyFromGreenScreen)));
    state.setAttributeAndModes(program.get(), osg::StateAttribute::ON);
    state.addUniform(new osg::Uniform("baseTexture", static_cast<int>(unit)));
    state.setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
    state.setMode(GL_BLEND, osg::StateAttribute::ON);
}

bool ARVideo::hasStream() const
{
    if (_stream.valid())
        return true;
    osg::notify(osg::NOTICE) << " (no stream found)" << std::endl;
    return false;
}

void ARVideo::play()
{
    osg::notify(osg::NOTICE) << " Video <" << _movieFile << "> PLAY" << std::endl;
    if (hasStream())
        _stream->play();
}

void ARVideo::pause()
{
    osg::notify(osg::NOTICE) << " Video <" << _movieFile << "> PAUSE" << std::endl;
    if (hasStream())
        _stream->pause();
}

void ARVideo::togglePause()
{
    osg::notify(osg::NOTICE) << " Video <" << _movieFile << "> TOGGLE PAUSE" << std::endl;
    if (!hasStream())
        return;
    if (_stream->getStatus() == osg::ImageStream::PAUSED)
        play();
    else
        pause();
}

void ARVideo::rewind()
{
    osg::notify(osg::NOTICE) << " Video <" << _movieFile << "> REWIND" << std::endl;
    if (hasStream())
        _stream->rewind();
}

void ARVideo::setLoop(bool on)
{
    osg::notify(osg::NOTICE) << " Video <" << _movieFile << "> LOOP (" << (on ? "on" : "off") << ")"
                             << std::endl;
    if (hasStream())
        _stream->setLoopingMode(on ? osg::ImageStream::LOOPING : osg::ImageStream::NO_LOOPING);
}

void ARVideo::toggleLoop()
{
    if (!hasStream())
        return;
    _stream->setLoopingMode(_stream->getLoopingMode() == osg::ImageStream::LOOPING
                                ? osg::ImageStream::NO_LOOPING
                                : osg::ImageStream::LOOPING);
}

void ARVideo::goFullscreen()
{
    if (ARSceneContext* context = getContext())
        context->showFullscreenVideo(_stream.get());
}

void ARVideo::resignFullscreen()
{
    if (ARSceneContext* context = getContext())
        context->hideFullscreenVideo(_stream.get());
}

} // namespace Novaro
