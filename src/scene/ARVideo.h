#pragma once

#include "scene/ARMultimediaInterface.h"

#include <osg/Geode>
#include <osg/ImageStream>

#include <string>

namespace Novaro
{

// A model whose plane shows a movie, optionally with its green or blue background cut out
// (chroma key), lit or not. The movie replaces the top texture (units 0 to 3) of the plane: the
// last geode of the model in depth-first order, its first drawable.
class ARVideo : public ARMultimediaInterface
{
public:
    using ARMultimediaInterface::ARMultimediaInterface;

    void setChromaKey(bool on) { _chromaKey = on; }
    void setChromaKeyFromGreenScreen(bool green) { _chromaKeyFromGreenScreen = green; }

    // Reads the movie and puts it on the plane; every failure is reported and leaves the object
    // as it was (without the movie, or without the key).
    void setupVideo(const std::string& file, bool lighting);

    void play() override;
    void pause() override;
    void togglePause() override;
    void rewind() override;
    void toggleLoop() override;
    void setLoop(bool on) override;

    // Shows the movie over the whole window through the application's head-up display, or takes it
    // off again.
    void goFullscreen();
    void resignFullscreen();

    const std::string& getMovieFile() const { return _movieFile; }
    float getWidth() const { return _width; }
    float getHeight() const { return _height; }
    bool getChromaKey() const { return _chromaKey; }
    bool getLighting() const { return _lighting; }
    osg::ImageStream* getStream() const { return _stream.get(); }
    osg::Geode* getGeode() const { return _geode.get(); }

protected:
    ~ARVideo() override;

private:
    // The stream, or false with " (no stream found)" after the operation's line.
    bool hasStream() const;
    void applyChromaKey(osg::StateSet& state, unsigned int unit);

    std::string _movieFile; // as given to setupVideo, shown in messages
    float _width = 0.0f;
    float _height = 0.0f;
    bool _chromaKey = false;
    bool _chromaKeyFromGreenScreen = true;
    bool _lighting = true;
    osg::ref_ptr<osg::ImageStream> _stream;
    osg::ref_ptr<osg::Geode> _geode;
};

} // namespace Novaro
