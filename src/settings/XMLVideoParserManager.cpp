#include "settings/XMLVideoParserManager.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

namespace Novaro
{

using namespace SettingsValues;

XMLVideoParserManager::XMLVideoParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLVideoParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading video settings..." << std::endl;

    const TiXmlElement* video = rootElement();
    if (!elementIs(video, "video"))
    {
        osg::notify(osg::FATAL) << " ERROR: missing <video> data in video file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading video settings...aborted." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " Video name: " << attribute(video, "name") << std::endl;

    const TiXmlElement* formats = childByTag(video, "formats");
    if (!formats)
    {
        osg::notify(osg::FATAL) << " ERROR: missing <formats> data in video file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading video settings...aborted." << std::endl;
        return false;
    }
    readFormats(formats);

    const TiXmlElement* cameras = childByTag(video, "cameras");
    if (!cameras)
    {
        osg::notify(osg::FATAL) << " ERROR: missing <cameras> data in video file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading video settings...aborted." << std::endl;
        return false;
    }
    readCameras(cameras);

    osg::notify(osg::NOTICE) << "Reading video settings...done." << std::endl;
    return true;
}

void XMLVideoParserManager::readFormats(const TiXmlElement* formats)
{
    osg::notify(osg::NOTICE) << "Reading video settings...(formats)..." << std::endl;
    osg::notify(osg::NOTICE) << " formats #: " << countChildren(formats) << std::endl;

    for (const TiXmlElement* entry = formats->FirstChildElement(); entry; entry = entry->NextSiblingElement())
    {
        if (!elementIs(entry, "format"))
        {
            osg::notify(osg::FATAL) << " WARNING: <format> was expected (skipping)." << std::endl;
            continue;
        }
        // Only presence is tested here; empty or zero values are left for isValid to refuse.
        if (!hasAttribute(entry, "name"))
        {
            osg::notify(osg::FATAL) << "WARNING: name missing (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(entry, "width"))
        {
            osg::notify(osg::FATAL) << "WARNING: width missing (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(entry, "height"))
        {
            osg::notify(osg::FATAL) << "WARNING: height missing (skipping)." << std::endl;
            continue;
        }
        VideoFormat format(attribute(entry, "name"), toFloat(attribute(entry, "height")),
                           toFloat(attribute(entry, "width")));
        _data.getFormats().push_back(format);
        osg::notify(osg::NOTICE) << " Adding format:" << std::endl;
        osg::notify(osg::NOTICE) << "        name: " << format.getName() << std::endl;
        osg::notify(osg::NOTICE) << "        width: " << format.getWidth() << std::endl;
        osg::notify(osg::NOTICE) << "        height: " << format.getHeight() << std::endl;
    }

    osg::notify(osg::NOTICE) << "Reading video settings...(formats)...done." << std::endl;
}

void XMLVideoParserManager::readCameras(const TiXmlElement* cameras)
{
    osg::notify(osg::NOTICE) << "Reading video settings...(cameras)..." << std::endl;
    osg::notify(osg::NOTICE) << " cameras #: " << countChildren(cameras) << std::endl;

    for (const TiXmlElement* entry = cameras->FirstChildElement(); entry; entry = entry->NextSiblingElement())
    {
        if (!elementIs(entry, "camera"))
        {
            osg::notify(osg::FATAL) << " WARNING: <camera> was expected (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(entry, "name"))
        {
            osg::notify(osg::FATAL) << "WARNING: name missing (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(entry, "format"))
        {
            osg::notify(osg::FATAL) << "WARNING: format missing (skipping)." << std::endl;
            continue;
        }
        if (!hasAttribute(entry, "path"))
        {
            osg::notify(osg::FATAL) << "WARNING: path missing (skipping)." << std::endl;
            continue;
        }
        VideoCamera camera(attribute(entry, "name"), attribute(entry, "format"), attribute(entry, "path"));
        camera.setLine(entry->Row());
        _data.getCameras().push_back(camera);
        osg::notify(osg::NOTICE) << " Adding camera:" << std::endl;
        osg::notify(osg::NOTICE) << "        name: " << camera.getName() << std::endl;
        osg::notify(osg::NOTICE) << "        format: " << camera.getFormat() << std::endl;
        osg::notify(osg::NOTICE) << "        path: " << camera.getPath() << std::endl;
    }

    osg::notify(osg::NOTICE) << "Reading video settings...(cameras)...done." << std::endl;
}

bool XMLVideoParserManager::isValid()
{
    if (_data.getFormats().empty() || _data.getCameras().empty())
        return false;
    for (const VideoFormat& format : _data.getFormats())
        if (format.getName().empty() || !(format.getWidth() > 0.0f) || !(format.getHeight() > 0.0f))
            return false;
    for (const VideoCamera& camera : _data.getCameras())
        if (camera.getName().empty() || camera.getFormat().empty() || camera.getPath().empty())
            return false;
    return true;
}

} // namespace Novaro
