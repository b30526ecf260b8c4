#pragma once

#include "TemporaryFolder.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/Texture2D>

#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace NovaroTest
{

// A textured plane: a 2 x 2 quad with a one-pixel texture on each of 'units', as a model's screen
// for a movie arrives from a modeller.
inline osg::ref_ptr<osg::Geode> screen(const std::vector<unsigned int>& units)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osg::Geometry> quad = osg::createTexturedQuadGeometry(
        osg::Vec3(-1.0f, -1.0f, 0.0f), osg::Vec3(2.0f, 0.0f, 0.0f), osg::Vec3(0.0f, 2.0f, 0.0f));
    for (unsigned int unit : units)
    {
        osg::ref_ptr<osg::Image> image = new osg::Image;
        image->allocateImage(1, 1, 1, GL_RGB, GL_UNSIGNED_BYTE);
        quad->getOrCreateStateSet()->setTextureAttributeAndModes(unit, new osg::Texture2D(image.get()));
    }
    geode->addDrawable(quad.get());
    return geode;
}

// A model with one screen (textured on units 0 and 1) under a node of each tag.
inline osg::ref_ptr<osg::Group> screensModel(const std::vector<std::string>& tags)
{
    osg::ref_ptr<osg::Group> model = new osg::Group;
    for (const std::string& tag : tags)
    {
        osg::ref_ptr<osg::Group> node = new osg::Group;
        node->setName(tag);
        node->addChild(screen({0, 1}).get());
        model->addChild(node.get());
    }
    return model;
}

// Writes the sample scene into 'folder' as scene.xml with its videos table replaced by these
// (tag, movie) rows; false when the sample has no table to replace.
inline bool writeSceneWithVideos(const TemporaryFolder& folder,
                                 const std::vector<std::pair<std::string, std::string>>& videos)
{
    std::string scene = readFile(std::string(NOVARO_SOURCE_DIR) + "/samples/scene.xml");
    const std::regex table("<videos(/>|>[^]*?</videos>)");
    if (!std::regex_search(scene, table))
        return false;
    std::string rows;
    for (const auto& video : videos)
        rows += "<video tag=\"" + video.first + "\" movie=\"" + video.second + "\"/>";
    folder.write("scene.xml", std::regex_replace(scene, table, "<videos>" + rows + "</videos>"));
    return true;
}

} // namespace NovaroTest
