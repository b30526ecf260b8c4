#pragma once

#include "settings/KmlData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the KML document of a Google Earth archive (root <kml> with a <Folder>, <Document> or
// <Placemark>) into the list of its models.
class XMLKmlParserManager : public XMLParserManager
{
public:
    explicit XMLKmlParserManager(const std::string& path);

    bool parse() override;
    // True when at least one model was read and every model names its file.
    bool isValid() override;

    const KmlData& getData() const { return _data; }

private:
    void readFolder(const TiXmlElement* folder);
    void readDocument(const TiXmlElement* document);
    void readPlacemark(const TiXmlElement* placemark);
    void readModel(const TiXmlElement* model);
    void readResourceMap(const TiXmlElement* resourceMap, KmlModel& model);

    KmlData _data;
};

} // namespace Novaro
