#pragma once

#include "RunDirectory.h"
#include "TemporaryFolder.h"

#include <osgART/GenericTracker.h>
#include <osgART/GenericVideo.h>
#include <osgART/PluginManager.h>

#include <osg/Matrixd>

#include <cmath>

namespace NovaroTest
{

inline osgART::GenericTracker* loadTracker()
{
    usePluginFolder();
    if (!osgART::PluginManager::instance()->load("osgart_tracker_artoolkit4"))
        return nullptr;
    return dynamic_cast<osgART::GenericTracker*>(
        osgART::PluginManager::instance()->get("tracker_artoolkit4"));
}

inline osgART::GenericVideo* loadVideo()
{
    usePluginFolder();
    if (!osgART::PluginManager::instance()->load("osgart_video_artoolkit4"))
        return nullptr;
    return dynamic_cast<osgART::GenericVideo*>(osgART::PluginManager::instance()->get("video_artoolkit4"));
}

inline double rotationErrorDegrees(const osg::Matrixd& measured, const osg::Matrixd& truth)
{
    const osg::Quat difference = measured.getRotate() * truth.getRotate().inverse();
    double angle;
    osg::Vec3d axis;
    difference.getRotate(angle, axis);
    angle = std::fabs(angle);
    if (angle > M_PI)
        angle = 2.0 * M_PI - angle;
    return angle * 180.0 / M_PI;
}

inline double relativeTranslationError(const osg::Matrixd& measured, const osg::Matrixd& truth)
{
    return (measured.getTrans() - truth.getTrans()).length() / truth.getTrans().length();
}

} // namespace NovaroTest
