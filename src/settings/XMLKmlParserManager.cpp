#include "settings/XMLKmlParserManager.h"

#include <iostream>

#include <osg/Notify>

namespace Novaro
{

XMLKmlParserManager::XMLKmlParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLKmlParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading KML data..." << std::endl;

    const TiXmlElement* kml = rootElement();
    if (!elementIs(kml, "kml"))
    {
        // Written straight to standard output, so that it shows whatever the notify threshold.
        std::cout << "WARNING: missing <kml> data." << std::endl;
        return false;
    }

    const TiXmlElement* content = kml->FirstChildElement();
    if (elementIs(content, "Folder"))
        readFolder(content);
    else if (elementIs(content, "Document"))
        readDocument(content);
    else if (elementIs(content, "Placemark"))
        readPlacemark(content);
    else
    {
        osg::notify(osg::NOTICE) << "Reading KML data...(missing <Folder>, <Document> or <Placemark>)."
                                 << std::endl;
        return false;
    }

    osg::notify(osg::NOTICE) << "Reading KML data...done." << std::endl;
    return true;
}

void XMLKmlParserManager::readDocument(const TiXmlElement* document)
{
    osg::notify(osg::NOTICE) << "Reading KML data...(Document)..." << std::endl;
    int placemarks = 0;
    for (const TiXmlElement* child = document->FirstChildElement(); child;
         child = child->NextSiblingElement())
        if (elementIs(child, "Placemark"))
        {
            readPlacemark(child);
            ++placemarks;
        }
    osg::notify(osg::NOTICE) << " Placemarks #: " << placemarks << std::endl;
    osg::notify(osg::NOTICE) << "Reading KML data...(Document)...done." << std::endl;
}

void XMLKmlParserManager::readFolder(const TiXmlElement* folder)
{
    // Folders nest without a limit of their own; the document loader bounds the depth.
    osg::notify(osg::NOTICE) << "Reading KML data...(Folder)..." << std::endl;
    int placemarks = 0;
    for (const TiXmlElement* child = folder->FirstChildElement(); child; child = child->NextSiblingElement())
    {
        if (elementIs(child, "Folder"))
            readFolder(child);
        else if (elementIs(child, "Placemark"))
        {
            readPlacemark(child);
            ++placemarks;
        }
    }
    osg::notify(osg::NOTICE) << " Placemarks #: " << placemarks << std::endl;
    osg::notify(osg::NOTICE) << "Reading KML data...(Folder)...done." << std::endl;
}

void XMLKmlParserManager::readPlacemark(const TiXmlElement* placemark)
{
    osg::notify(osg::NOTICE) << "Reading KML data...(Placemark)..." << std::endl;
    int models = 0;
    for (const TiXmlElement* child = placemark->FirstChildElement(); child;
         child = child->NextSiblingElement())
        if (elementIs(child, "Model"))
        {
            readModel(child);
            ++models;
        }
    osg::notify(osg::NOTICE) << " Models #: " << models << std::endl;
    osg::notify(osg::NOTICE) << "Reading KML data...(Placemark)...done." << std::endl;
}

void XMLKmlParserManager::readModel(const TiXmlElement* element)
{
    osg::notify(osg::NOTICE) << "Reading KML data...(Model)..." << std::endl;
    KmlModel model;

    const TiXmlElement* link = childByTag(element, "Link");
    if (!link)
    {
        osg::notify(osg::NOTICE) << " WARNING: missing Link..." << std::endl;
        osg::notify(osg::NOTICE) << "Reading KML data...(Model)...skipped." << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << "Reading KML data...(Link)..." << std::endl;
    const TiXmlElement* href = childByTag(link, "href");
    if (!href)
    {
        osg::notify(osg::NOTICE) << " WARNING: missing href..." << std::endl;
        osg::notify(osg::NOTICE) << "Reading KML data...(Link)...skipped." << std::endl;
        osg::notify(osg::NOTICE) << "Reading KML data...(Model)...skipped." << std::endl;
        return;
    }
    model.setHref(text(href));
    osg::notify(osg::NOTICE) << "Reading KML data...(Link)...done." << std::endl;

    const TiXmlElement* resourceMap = childByTag(element, "ResourceMap");
    if (!resourceMap)
        osg::notify(osg::NOTICE) << " WARNING: missing ResourceMap..." << std::endl;
    else
        readResourceMap(resourceMap, model);

    _data.getModels().push_back(model);
    osg::notify(osg::NOTICE) << "Reading KML data...(Model)...done." << std::endl;
}

void XMLKmlParserManager::readResourceMap(const TiXmlElement* resourceMap, KmlModel& model)
{
    osg::notify(osg::NOTICE) << "Reading KML data...(ResourceMap)..." << std::endl;
    int aliases = 0;
    for (const TiXmlElement* alias = resourceMap->FirstChildElement(); alias;
         alias = alias->NextSiblingElement())
    {
        if (!elementIs(alias, "Alias"))
            continue;
        ++aliases;
        osg::notify(osg::NOTICE) << "Reading KML data...(Alias)..." << std::endl;
        const TiXmlElement* target = childByTag(alias, "targetHref");
        if (!target)
        {
            osg::notify(osg::NOTICE) << " WARNING: missing targetHref..." << std::endl;
            osg::notify(osg::NOTICE) << "Reading KML data...(Alias)...skipped." << std::endl;
            continue;
        }
        const TiXmlElement* source = childByTag(alias, "sourceHref");
        if (!source)
        {
            osg::notify(osg::NOTICE) << " WARNING: missing sourceHref..." << std::endl;
            osg::notify(osg::NOTICE) << "Reading KML data...(Alias)...skipped." << std::endl;
            continue;
        }
        model.getAliases()[text(target)] = text(source);
        osg::notify(osg::NOTICE) << "Reading KML data...(Alias)...done." << std::endl;
    }
    osg::notify(osg::NOTICE) << " Alias #: " << aliases << std::endl;
    osg::notify(osg::NOTICE) << "Reading KML data...(ResourceMap)...done." << std::endl;
}

bool XMLKmlParserManager::isValid()
{
    if (_data.getModels().empty())
        return false;
    for (const KmlModel& model : _data.getModels())
        if (model.getHref().empty())
            return false;
    return true;
}

} // namespace Novaro
