#pragma once

#include "settings/VideoData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the video settings file (root <video> with <formats> and <cameras>) into a VideoData
// record.
class XMLVideoParserManager : public XMLParserManager
{
public:
    explicit XMLVideoParserManager(const std::string& path);

    bool parse() override;
    // True when there is at least one format and one camera and every entry is complete (names,
    // positive sizes, camera format and path).
    bool isValid() override;

    const VideoData& getData() const { return _data; }

private:
    void readFormats(const TiXmlElement* formats);
    void readCameras(const TiXmlElement* cameras);

    VideoData _data;
};

} // namespace Novaro
