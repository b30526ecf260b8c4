// Marker nodes of the application: layers, attachment to the scene, generated multi-marker
// files, and the tracking toggles and smoothing steps applied to every marker.
#include "app/ARApplication.h"
#include "app/PrivateFolder.h"

#include "settings/MarkersData.h"
#include "settings/ModelFileCheck.h"
#include "settings/PathRule.h"
#include "settings/TrackerData.h"
#include "tracking/ARMarkerNode.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <fcntl.h>
#include <unistd.h>

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

// A name from the markers file on a comment line: a line break in it would start lines of its own.
std::string withoutLineBreaks(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return text;
}

// Creates the file only if nothing, not even a dangling link, has that name yet.
bool createFreshFile(const std::string& path)
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return false;
    ::close(descriptor);
    return true;
}

std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

} // namespace

std::string ARApplication::writeMultiMarkerFile(const MarkerData* record)
{
    if (!record)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init submarkers (missing marker configuration)."
                                << std::endl;
        return std::string();
    }
    const MarkerData& marker = *record;
    if (marker.getSubmarkers().empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init submarkers (empty marker configuration)."
                                << std::endl;
        return std::string();
    }
    const std::string& transformsFile = marker.getTransformsFile();
    if (transformsFile.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot init submarkers (empty transforms file name)."
                                << std::endl;
        return std::string();
    }
    // A scene's file: checked first, as the readers trust what files declare.
    osg::ref_ptr<osg::Node> model = readModelFile(transformsFile);
    if (!model.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot load marker reference system file." << std::endl;
        return std::string();
    }
    // Generated into the run's private folder, never where the markers file points: the scene's
    // folder may be read-only, and a name chosen by the scene must not choose where we write.
    const std::string path = PrivateFolder::uniqueName(marker.getPath());
    std::ofstream file;
    if (!path.empty() && createFreshFile(path))
        file.open(path.c_str(), std::ios::out | std::ios::trunc);
    if (!file)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot create multi marker pattern file: "
                                << (path.empty() ? marker.getPath() : path) << std::endl;
        return std::string();
    }
    const size_t written = writeSubmarkers(file, marker, *model);
    file.close();
    if (written != marker.getSubmarkers().size() || !file.good())
    {
        std::remove(path.c_str());
        osg::notify(osg::FATAL) << " WARNING: not all submarkers were added to pattern file." << std::endl;
        return std::string();
    }
    _temporaryFiles.push_back(path);
    return path;
}

size_t ARApplication::writeSubmarkers(std::ostream& file, const MarkerData& marker, osg::Node& model) const
{
    const bool fbx = osgDB::getLowerCaseFileExtension(marker.getTransformsFile()) == "fbx";
    const std::vector<SubmarkerData>& submarkers = marker.getSubmarkers();
    file << "# Novaro Multi Marker Setup" << std::endl;
    file << "# marker name: " << withoutLineBreaks(marker.getName()) << std::endl;
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
