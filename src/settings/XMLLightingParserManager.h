#pragma once

#include "settings/LightingData.h"
#include "settings/XMLParserManager.h"

#include <string>
#include <vector>

namespace Novaro
{

// Reads the lighting settings file (root <lighting> whose first child is <parameters>) into a
// LightingData record.
class XMLLightingParserManager : public XMLParserManager
{
public:
    explicit XMLLightingParserManager(const std::string& path);

    bool parse() override;
    // Every text maps to a known value, so any record read is usable.
    bool isValid() override;

    const LightingData& getData() const { return _data; }

private:
    void reportUnknownValue(const TiXmlElement* element, const std::string& name, const std::string& value,
                            const std::vector<std::string>& known) const;

    LightingData _data;
};

} // namespace Novaro
