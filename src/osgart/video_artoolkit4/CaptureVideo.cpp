#include "CaptureVideo.h"

namespace osgART {

CaptureVideo::CaptureVideo() = default;
CaptureVideo::~CaptureVideo() = default;

bool CaptureVideo::open() { return false; }
void CaptureVideo::close(bool) {}
void CaptureVideo::start() {}
void CaptureVideo::stop() {}
void CaptureVideo::update() {}

}  // namespace osgART
