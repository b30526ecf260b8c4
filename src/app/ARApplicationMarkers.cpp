// Marker nodes of the application: layers, attachment to the scene, generated multi-marker
// files, and the tracking toggles and smoothing steps applied to every marker.
#include "app/ARApplication.h"

#include "settings/MarkersData.h"
#include "settings/PathRule.h"
#include "settings/TrackerData.h"
#include "tracking/ARMarkerNode.h"

#include <filesystem>
#include <fstream>

#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

bool ARApplication::setupMarkersLayers()
{
    if (!_markersConfiguration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL markers configuration." << std::endl;
        return false;
    }
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
    {
        marker->second->setupLayers();
        marker->second->setupSequence();
        marker->second->setupSequenceUsage();
    }
    return true;
}

bool ARApplication::setupMarkersTransforms()
{
    if (_markers.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: markers not initialized." << std::endl;
        return false;
    }
    if (!_shadowedMarkersGroup.valid() || !_notShadowedMarkersGroup.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: markers transforms initialization failure." << std::endl;
        return false;
    }
    for (MarkerNodeMap::iterator entry = _markers.begin(); entry != _markers.end(); ++entry)
    {
        ARMarkerNode* marker = entry->second.get();
        if (_trackerConfiguration)
        {
            const bool smooth = _trackerConfiguration->getSmoothTracking();
            marker->setSmoothing(smooth);
            marker->setSmoothingFactor(_trackerConfiguration->getRotationalSmoothingFactor());
            marker->setTrackingPlus(smooth);
        }
        if (marker->getMarkerData() && marker->getMarkerData()->getShadowed())
        {
            osg::notify(osg::NOTICE) << " adding marker transform to SHADOWED group..." << std::endl;
            _shadowedMarkersGroup->addChild(marker);
        }
        else
        {
            osg::notify(osg::NOTICE) << " adding marker transform to NOT SHADOWED group..." << std::endl;
            _notShadowedMarkersGroup->addChild(marker);
        }
    }
    return true;
}

namespace
{

// One submarker block of the multi-marker file: its pattern, its size and the three rows of its
// marker transform. The pattern is named by an absolute path, since the tracker resolves relative
// names against the multi-marker file's own folder, not the scene's.
void writeSubmarkerBlock(std::ostream& file, size_t position, const SubmarkerData& submarker,
                         const std::string& patternPath, const osg::Matrixd& matrix)
{
    file << std::endl;
    file << "# submarker " << position << std::endl;
    file << patternPath << std::endl;
    file << submarker.getSize() << std::endl;
    for (int column = 0; column < 3; ++column)
        file << matrix(0, column) << " " << matrix(1, column) << " " << matrix(2, column) << " "
             << matrix(3, column) << std::endl;
}

std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

} // namespace

bool ARApplication::writeMultiMarkerFile(const MarkerData* record)
{
    if (!record)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init submarkers (missing marker configuration)."
                                << std::endl;
        return false;
    }
    const MarkerData& marker = *record;
    if (marker.getSubmarkers().empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init submarkers (empty marker configuration)."
                                << std::endl;
        return false;
    }
    const std::string& transformsFile = marker.getTransformsFile();
    if (transformsFile.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init submarkers (empty transforms file name)."
                                << std::endl;
        return false;
    }
    osg::ref_ptr<osg::Node> model =
        osgDB::readNodeFile(transformsFile, osgDB::Registry::instance()->getOptions());
    if (!model.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot load marker reference system file." << std::endl;
        return false;
    }
    // Written under a temporary name and moved into place only when complete: the tracker reuses
    // an existing multi-marker file, so a partial one must never be left under the real name.
    const std::string path = PathRule::resolve(_temporaryDirectory, marker.getPath());
    const std::string partialPath = path + ".partial";
    std::ofstream file(partialPath.c_str(), std::ios::out | std::ios::trunc);
    if (!file)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot create multi marker pattern file: " << path << std::endl;
        return false;
    }
    const size_t written = writeSubmarkers(file, marker, *model);
    file.close();
    const bool complete = written == marker.getSubmarkers().size() && file.good();
    std::error_code error;
    if (complete)
        std::filesystem::rename(partialPath, path, error);
    if (!complete || error)
    {
        std::filesystem::remove(partialPath, error);
        if (complete)
            osg::notify(osg::FATAL) << " WARNING: cannot create multi marker pattern file: " << path
                                    << std::endl;
        else
            osg::notify(osg::FATAL) << " WARNING: not all submarkers were added to pattern file."
                                    << std::endl;
        return false;
    }
    _temporaryFiles.push_back(path);
    return true;
}

size_t ARApplication::writeSubmarkers(std::ostream& file, const MarkerData& marker, osg::Node& model) const
{
    const bool fbx = osgDB::getLowerCaseFileExtension(marker.getTransformsFile()) == "fbx";
    const std::vector<SubmarkerData>& submarkers = marker.getSubmarkers();
    file << "# Novaro Multi Marker Setup" << std::endl;
    file << "# marker name: " << marker.getName() << std::endl;
    file << submarkers.size() << std::endl;
    size_t written = 0;
    for (size_t k = 0; k < submarkers.size(); ++k)
    {
        const ARMarkerNode::TagPlacement placement =
            ARMarkerNode::findTagPlacement(model, submarkers[k].getTag());
        if (!placement.found)
        {
            osg::notify(osg::FATAL)
                << " WARNING: cannot setup submarker (could not find marker tag in transforms file)."
                << std::endl;
            continue;
        }
        if (placement.pathCount == 0)
        {
            osg::notify(osg::FATAL) << " WARNING: cannot setup submarker (no parental node path found for "
                                       "current marker transforms)."
                                    << std::endl;
            continue;
        }
        if (placement.pathCount > 1)
            osg::notify(osg::FATAL)
                << " WARNING: more than 1 parental node paths found for current submarker." << std::endl;
        osg::Matrixd matrix = placement.localToWorld;
        if (fbx)
        {
            osg::notify(osg::NOTICE) << " WARNING: fixing for FBX reference system file (submarkers)."
                                     << std::endl;
            matrix = ARMarkerNode::fbxCorrection() * matrix;
        }
        const std::string pattern =
            absolutePath(PathRule::resolve(_temporaryDirectory, submarkers[k].getPath()));
        writeSubmarkerBlock(file, k, submarkers[k], pattern, matrix);
        ++written;
    }
    return written;
}

void ARApplication::toggleFreeze()
{
    if (!_tracker.valid())
    {
        osg::notify(osg::FATAL) << "WARNING: Cannot toggle freeze mode (tracker engine not valid)."
                                << std::endl;
        return;
    }
    _freeze = !_freeze;
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
        marker->second->setFreeze(_freeze);
}

void ARApplication::toggleTrackingPlus()
{
    if (!_tracker.valid())
    {
        osg::notify(osg::FATAL) << "WARNING: Cannot toggle tracking plus (tracker engine not valid)."
                                << std::endl;
        return;
    }
    _trackingPlus = !_trackingPlus;
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
        marker->second->setTrackingPlus(_trackingPlus);
}

void ARApplication::resetSmoothing()
{
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
        marker->second->resetSmoothing();
}

void ARApplication::increaseSmoothing(float step)
{
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
        marker->second->increaseSmoothing(step);
}

void ARApplication::decreaseSmoothing(float step)
{
    for (MarkerNodeMap::iterator marker = _markers.begin(); marker != _markers.end(); ++marker)
        marker->second->decreaseSmoothing(step);
}

float ARApplication::getSmoothingFactor() const
{
    return _markers.empty() ? -1.0f : _markers.begin()->second->getSmoothingFactor();
}

} // namespace Novaro
