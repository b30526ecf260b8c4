#pragma once

#include "settings/MarkersData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the markers settings file (root <markers> with <marker> children, each with optional
// <submarkers> and <layers>) into a MarkersData record.
class XMLMarkersParserManager : public XMLParserManager
{
public:
    explicit XMLMarkersParserManager(const std::string& path);

    bool parse() override;
    // True when the pattern file is named, at least one marker was read and every marker can be
    // tracked (a known type with a pattern, or a multi marker made of complete submarkers).
    bool isValid() override;

    const MarkersData& getData() const { return _data; }

private:
    void readMarkers(const TiXmlElement* markers);
    // Reads one <marker>; false when the entry is dropped.
    bool readMarker(const TiXmlElement* element, MarkerData& marker);
    void readOptionalAttributes(const TiXmlElement* element, MarkerData& marker);
    bool readIdentityAttributes(const TiXmlElement* element, MarkerData& marker);
    void readMarkerLayers(const TiXmlElement* element, MarkerData& marker);
    static void echoMarker(const MarkerData& marker);
    void readSubmarkers(const TiXmlElement* submarkers, MarkerData& marker);
    void readLayers(const TiXmlElement* layers, MarkerData& marker);

    MarkersData _data;
};

} // namespace Novaro
