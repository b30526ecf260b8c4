#pragma once

#include "settings/ConfigurationData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the configuration settings file (root <configuration>, parameters found by their name
// attribute under <parameters>) into a ConfigurationData record.
class XMLConfigurationParserManager : public XMLParserManager
{
public:
    explicit XMLConfigurationParserManager(const std::string& path);

    bool parse() override;
    // True when the rendering mode is one the player knows.
    bool isValid() override;

    const ConfigurationData& getData() const { return _data; }

private:
    void readParameters(const TiXmlElement* parameters);

    ConfigurationData _data;
};

} // namespace Novaro
