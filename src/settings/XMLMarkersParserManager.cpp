#include "settings/XMLMarkersParserManager.h"

#include "settings/XMLLookupRecord.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

#include <algorithm>

namespace Novaro
{

using namespace SettingsValues;

XMLMarkersParserManager::XMLMarkersParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLMarkersParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading markers settings..." << std::endl;

    const TiXmlElement* markers = rootElement();
    if (!elementIs(markers, "markers"))
    {
        osg::notify(osg::FATAL) << " ERROR: missing <markers> data in markers file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading markers settings...aborted." << std::endl;
        return false;
    }

    readMarkers(markers);

    osg::notify(osg::NOTICE) << "Reading markers settings...done." << std::endl;
    return true;
}

void XMLMarkersParserManager::readMarkers(const TiXmlElement* markers)
{
    osg::notify(osg::NOTICE) << "Reading markers settings...(markers)..." << std::endl;

    _data.setPatternsFile(attribute(markers, "patterns_file"));
    osg::notify(osg::NOTICE) << " patterns_file: " << _data.getPatternsFile() << std::endl;
    _data.setTransformsFile(attribute(markers, "transforms_file"));
    osg::notify(osg::NOTICE) << " transforms_file: " << _data.getTransformsFile() << std::endl;

    osg::notify(osg::NOTICE) << " markers #: " << countChildren(markers) << std::endl;

    for (const TiXmlElement* element = markers->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        MarkerData marker;
        if (readMarker(element, marker))
            _data.getMarkers().push_back(marker);
    }

    osg::notify(osg::NOTICE) << "Reading markers settings...(markers)...done." << std::endl;
}

bool XMLMarkersParserManager::readMarker(const TiXmlElement* element, MarkerData& marker)
{
    if (!elementIs(element, "marker"))
    {
        osg::notify(osg::FATAL) << " WARNING: <marker> was expected (skipping)." << std::endl;
        return false;
    }
    if (!readIdentityAttributes(element, marker))
        return false;
    readOptionalAttributes(element, marker);
    echoMarker(marker);
    if (marker.isMulti())
    {
        const TiXmlElement* submarkers = childByTag(element, "submarkers");
        if (!submarkers)
            osg::notify(osg::NOTICE) << " WARNING: missing <submarkers> (not using)." << std::endl;
        else
            readSubmarkers(submarkers, marker);
        // A multi marker's content is placed by its submarkers, never fitted.
        marker.setFit(false);
    }
    osg::notify(osg::NOTICE) << " Added " << marker.getSubmarkers().size() << " submarkers." << std::endl;
    readMarkerLayers(element, marker);
    return true;
}

// The line, name, tag, id, type, path, image and transforms file, in the order the messages
// come; false (skipping the marker) without an id or a path.
bool XMLMarkersParserManager::readIdentityAttributes(const TiXmlElement* element, MarkerData& marker)
{
    marker.setLine(element->Row());
    marker.setName(attribute(element, "name"));

    if (hasAttribute(element, "tag"))
        marker.setTag(attribute(element, "tag"));
    else
        osg::notify(osg::NOTICE) << " tag: NA (not using)." << std::endl;

    if (!hasAttribute(element, "id"))
    {
        osg::notify(osg::FATAL) << "WARNING: id missing (skipping)." << std::endl;
        return false;
    }
    marker.setId(static_cast<unsigned int>(toInt(attribute(element, "id"))));

    if (hasAttribute(element, "type"))
        marker.setType(attribute(element, "type"));
    else
    {
        osg::notify(osg::NOTICE) << " type: NA (using default)." << std::endl;
        marker.setType("single");
    }

    if (!hasAttribute(element, "path"))
    {
        osg::notify(osg::FATAL) << "WARNING: path missing." << std::endl;
        return false;
    }
    marker.setPath(attribute(element, "path"));

    if (hasAttribute(element, "image"))
        marker.setImage(attribute(element, "image"));
    else
        osg::notify(osg::NOTICE) << " image: NA (not using)." << std::endl;

    if (hasAttribute(element, "transforms_file"))
        marker.setTransformsFile(attribute(element, "transforms_file"));
    else
        osg::notify(osg::NOTICE) << "transforms_file: NA (not using)." << std::endl;
    return true;
}

// The marker's layers; without any, one default layer 0 of 5 seconds.
void XMLMarkersParserManager::readMarkerLayers(const TiXmlElement* element, MarkerData& marker)
{
    const TiXmlElement* layers = childByTag(element, "layers");
    if (!layers)
        osg::notify(osg::NOTICE) << " WARNING: missing <layers> (using default settings)." << std::endl;
    else
        readLayers(layers, marker);

    if (marker.getLayers().empty())
    {
        osg::notify(osg::NOTICE) << "WARNING: no layers specified, adding default layer." << std::endl;
        marker.addLayer(0, 5.0);
    }
}

// The attributes with defaults: the attribute's text when present, else the absence message and
// the default.
void XMLMarkersParserManager::readOptionalAttributes(const TiXmlElement* element, MarkerData& marker)
{
    auto lookUp = [&](const char* name, std::string& value)
    {
        if (!hasAttribute(element, name))
        {
            osg::notify(osg::NOTICE) << " " << name << ": NA (using default)." << std::endl;
            return false;
        }
        value = attribute(element, name);
        return true;
    };
    std::string value;
    marker.setSize(lookUp("size", value) ? toFloat(value) : 80.0f);
    if (XMLLookupRecord* record = XMLLookupRecord::current();
        record && SettingsValues::isWholeNumber(value, false) && !(toFloat(value) > 0.0f))
        record->replaced(value, "a marker's size must be above 0: the player uses 80");
    marker.setFit(lookUp("fit", value) ? isTrue(value) : false);
    marker.setFitFactor(lookUp("fit_factor", value) ? toFloat(value) : 1.0f);
    marker.setShadowed(lookUp("shadowed", value) ? isTrue(value) : false);
    marker.setSequence(lookUp("sequence", value) ? isTrue(value) : false);
    marker.setSequenceDuration(lookUp("sequence_duration", value) ? toDouble(value) : 100.0);
    marker.setSequenceLoop(lookUp("sequence_loop", value) ? isTrue(value) : false);
}

void XMLMarkersParserManager::echoMarker(const MarkerData& marker)
{
    osg::notify(osg::NOTICE) << " Adding marker data:" << std::endl;
    osg::notify(osg::NOTICE) << "        name: " << marker.getName() << std::endl;
    osg::notify(osg::NOTICE) << "        tag: " << marker.getTag() << std::endl;
    osg::notify(osg::NOTICE) << "        id: " << marker.getId() << std::endl;
    osg::notify(osg::NOTICE) << "        size: " << marker.getSize() << std::endl;
    osg::notify(osg::NOTICE) << "        fit: " << boolText(marker.getFit()) << std::endl;
    osg::notify(osg::NOTICE) << "        fit_factor: " << marker.getFitFactor() << std::endl;
    osg::notify(osg::NOTICE) << "        path: " << marker.getPath() << std::endl;
    osg::notify(osg::NOTICE) << "        image: " << marker.getImage() << std::endl;
    osg::notify(osg::NOTICE) << "        transforms_file: " << marker.getTransformsFile() << std::endl;
    osg::notify(osg::NOTICE) << "        type: " << marker.getType() << std::endl;
    // The two sequence flags are echoed in the stream's plain form (1/0), unlike fit.
    osg::notify(osg::NOTICE) << "        sequence: " << marker.getSequence() << std::endl;
    osg::notify(osg::NOTICE) << "        sequence_duration: " << marker.getSequenceDuration() << std::endl;
    osg::notify(osg::NOTICE) << "        sequence_loop: " << marker.getSequenceLoop() << std::endl;
}

void XMLMarkersParserManager::readSubmarkers(const TiXmlElement* submarkers, MarkerData& marker)
{
    osg::notify(osg::NOTICE) << "Reading markers settings...(submarkers)..." << std::endl;
    osg::notify(osg::NOTICE) << " submarkers #: " << countChildren(submarkers) << std::endl;

    for (const TiXmlElement* element = submarkers->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        if (!elementIs(element, "submarker"))
        {
            osg::notify(osg::NOTICE) << " WARNING: <submarker> was expected (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(element, "tag"))
        {
            osg::notify(osg::NOTICE) << "WARNING: tag missing (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(element, "path"))
        {
            osg::notify(osg::NOTICE) << "WARNING: path missing." << std::endl;
            continue;
        }
        if (!hasAttribute(element, "size"))
        {
            osg::notify(osg::NOTICE) << "WARNING: size missing." << std::endl;
            continue;
        }
        SubmarkerData submarker;
        submarker.setTag(attribute(element, "tag"));
        submarker.setPath(attribute(element, "path"));
        submarker.setSize(toFloat(attribute(element, "size")));
        if (hasAttribute(element, "image"))
            submarker.setImage(attribute(element, "image"));
        else
            osg::notify(osg::NOTICE) << " image: NA (not using)." << std::endl;
        if (hasAttribute(element, "id"))
            submarker.setId(static_cast<unsigned int>(std::max(0, toInt(attribute(element, "id")))));

        osg::notify(osg::NOTICE) << " Adding (sub)marker data:" << std::endl;
        osg::notify(osg::NOTICE) << "        tag: " << submarker.getTag() << std::endl;
        osg::notify(osg::NOTICE) << "        size: " << submarker.getSize() << std::endl;
        osg::notify(osg::NOTICE) << "        path: " << submarker.getPath() << std::endl;
        osg::notify(osg::NOTICE) << "        image: " << submarker.getImage() << std::endl;
        marker.getSubmarkers().push_back(submarker);
    }

    osg::notify(osg::NOTICE) << "Reading markers settings...(submarkers)...done." << std::endl;
}

void XMLMarkersParserManager::readLayers(const TiXmlElement* layers, MarkerData& marker)
{
    osg::notify(osg::NOTICE) << "Reading markers settings...(layers)..." << std::endl;

    // The <layers> element's own sequence attributes override the marker's, with defaults of
    // their own (a looping sequence of one-second layers).
    std::string sequence = "false";
    if (hasAttribute(layers, "sequence"))
        sequence = attribute(layers, "sequence");
    else
        osg::notify(osg::NOTICE) << "WARNING: sequence missing (using default)." << std::endl;
    marker.setSequence(isTrue(sequence));
    osg::notify(osg::NOTICE) << " sequence: " << boolText(marker.getSequence()) << std::endl;

    std::string duration = "1.0";
    if (hasAttribute(layers, "sequence_duration"))
        duration = attribute(layers, "sequence_duration");
    else
        osg::notify(osg::NOTICE) << "WARNING: sequence_duration missing (using default 1.0)." << std::endl;
    marker.setSequenceDuration(toDouble(duration));
    osg::notify(osg::NOTICE) << " sequence_duration: " << marker.getSequenceDuration() << std::endl;

    std::string loop = "true";
    if (hasAttribute(layers, "sequence_loop"))
        loop = attribute(layers, "sequence_loop");
    else
        osg::notify(osg::NOTICE) << "WARNING: sequence_loop missing (using default)." << std::endl;
    marker.setSequenceLoop(isTrue(loop));
    osg::notify(osg::NOTICE) << " sequence_loop: " << boolText(marker.getSequenceLoop()) << std::endl;

    osg::notify(osg::NOTICE) << " layers #: " << countChildren(layers) << std::endl;
    for (const TiXmlElement* element = layers->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        if (!elementIs(element, "layer"))
        {
            osg::notify(osg::NOTICE) << " WARNING: <layer> was expected (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(element, "id"))
        {
            osg::notify(osg::NOTICE) << "WARNING: id missing (skipping)." << std::endl;
            continue;
        }
        std::string id = attribute(element, "id");
        std::string time = "5.0";
        if (hasAttribute(element, "time"))
            time = attribute(element, "time");
        else
            osg::notify(osg::NOTICE) << "WARNING: time missing (using default)." << std::endl;
        osg::notify(osg::NOTICE) << " Adding marker layer:" << std::endl;
        osg::notify(osg::NOTICE) << "        ID: " << id << std::endl;
        osg::notify(osg::NOTICE) << "        time: " << time << std::endl;
        marker.addLayer(toInt(id), toDouble(time));
    }

    osg::notify(osg::NOTICE) << "Reading markers settings...(layers)...done." << std::endl;
}

bool XMLMarkersParserManager::isValid()
{
    if (_data.getPatternsFile().empty() || _data.getMarkers().empty())
        return false;
    for (const MarkerData& marker : _data.getMarkers())
    {
        if (marker.isSingle() || marker.isImage())
        {
            if (marker.getPath().empty())
                return false;
        }
        else if (marker.isMulti())
        {
            if (!marker.getPath().empty())
                continue;
            if (marker.getSubmarkers().empty())
                return false;
            for (const SubmarkerData& submarker : marker.getSubmarkers())
                if (submarker.getTag().empty() || submarker.getPath().empty())
                    return false;
        }
        else
            return false;
    }
    return true;
}

} // namespace Novaro
