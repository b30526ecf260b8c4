#pragma once

#include "settings/TrackerData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the tracker settings file (root <tracker>, optional <parameters> found by name) into a
// TrackerData record.
class XMLTrackerParserManager : public XMLParserManager
{
public:
    explicit XMLTrackerParserManager(const std::string& path);

    bool parse() override;
    // Every value is clamped on the way in, so any record read is usable.
    bool isValid() override;

    const TrackerData& getData() const { return _data; }

private:
    void readParameters(const TiXmlElement* parameters);

    TrackerData _data;
};

} // namespace Novaro
