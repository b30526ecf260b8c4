#pragma once

#include <osgART/GenericVideo.h>

namespace osgART {

class CaptureVideo : public GenericVideo {
public:
    CaptureVideo();
    using GenericVideo::update;

    bool open() override;
    void close(bool waitForThread = true) override;
    void start() override;
    void stop() override;
    void update() override;

protected:
    ~CaptureVideo() override;
};

}  // namespace osgART
