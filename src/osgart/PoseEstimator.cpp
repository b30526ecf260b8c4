#include "osgART/PoseEstimator.h"

#include <opencv2/calib3d.hpp>

namespace osgART
{

namespace
{

cv::Matx33d cameraMatrix(const CameraParameters& camera)
{
    const double(&p)[3][4] = camera.projection();
    const double scale = p[2][2] != 0.0 ? p[2][2] : 1.0;
    return cv::Matx33d(p[0][0] / scale, p[0][1] / scale, p[0][2] / scale, 0.0, p[1][1] / scale,
                       p[1][2] / scale, 0.0, 0.0, 1.0);
}

// Writes element by element (whole-matrix assignment trips a false GCC overflow warning here).
void fromRodrigues(const cv::Vec3d& rotation, const cv::Vec3d& translation, osg::Matrixd& pose)
{
    cv::Matx33d r;
    cv::Rodrigues(rotation, r);
    for (int row = 0; row < 3; ++row)
    {
        for (int column = 0; column < 3; ++column)
            pose(column, row) = r(row, column);
        pose(3, row) = translation[row];
        pose(row, 3) = 0.0;
    }
    pose(3, 3) = 1.0;
}

void toRodrigues(const osg::Matrixd& pose, cv::Vec3d& rotation, cv::Vec3d& translation)
{
    cv::Matx33d r;
    for (int row = 0; row < 3; ++row)
    {
        for (int column = 0; column < 3; ++column)
            r(row, column) = pose(column, row);
        translation[row] = pose(3, row);
    }
    cv::Rodrigues(r, rotation);
}

} // namespace

PoseEstimator::PoseEstimator(const CameraParameters& camera) : _camera(camera) {}

std::array<osg::Vec3d, 4> PoseEstimator::squareCorners(double size, const osg::Vec2d& centre)
{
    const double half = 0.5 * size;
    return {osg::Vec3d(centre.x() - half, centre.y() + half, 0.0),
            osg::Vec3d(centre.x() + half, centre.y() + half, 0.0),
            osg::Vec3d(centre.x() + half, centre.y() - half, 0.0),
            osg::Vec3d(centre.x() - half, centre.y() - half, 0.0)};
}

bool PoseEstimator::estimateSquare(const std::array<osg::Vec2d, 4>& ideal, double size,
                                   const osg::Vec2d& centre, osg::Matrixd& pose) const
{
    if (!(size > 0.0))
        return false;
    const double half = 0.5 * size;
    // The square solver wants the square centred on the origin; the centre offset is applied after.
    std::vector<cv::Point3d> object = {
        {-half, half, 0.0}, {half, half, 0.0}, {half, -half, 0.0}, {-half, -half, 0.0}};
    std::vector<cv::Point2d> image;
    for (const osg::Vec2d& point : ideal)
        image.emplace_back(point.x(), point.y());
    cv::Vec3d rotation, translation;
    try
    {
        if (!cv::solvePnP(object, image, cameraMatrix(_camera), cv::noArray(), rotation, translation, false,
                          cv::SOLVEPNP_IPPE_SQUARE))
            return false;
    }
    catch (const cv::Exception&)
    {
        return false;
    }
    if (!(translation[2] > 0.0))
        return false;
    osg::Matrixd centred;
    fromRodrigues(rotation, translation, centred);
    pose = osg::Matrixd::translate(-centre.x(), -centre.y(), 0.0) * centred;
    return true;
}

bool PoseEstimator::refine(const std::vector<osg::Vec3d>& object, const std::vector<osg::Vec2d>& ideal,
                           osg::Matrixd& pose) const
{
    if (object.size() != ideal.size() || object.size() < 4)
        return false;
    std::vector<cv::Point3d> objectPoints;
    std::vector<cv::Point2d> imagePoints;
    for (size_t i = 0; i < object.size(); ++i)
    {
        objectPoints.emplace_back(object[i].x(), object[i].y(), object[i].z());
        imagePoints.emplace_back(ideal[i].x(), ideal[i].y());
    }
    cv::Vec3d rotation, translation;
    toRodrigues(pose, rotation, translation);
    cv::Mat rotationMat(rotation), translationMat(translation);
    try
    {
        cv::solvePnPRefineLM(objectPoints, imagePoints, cameraMatrix(_camera), cv::noArray(), rotationMat,
                             translationMat);
    }
    catch (const cv::Exception&)
    {
        return false;
    }
    const cv::Vec3d refinedRotation(rotationMat), refinedTranslation(translationMat);
    if (!(refinedTranslation[2] > 0.0))
        return false;
    fromRodrigues(refinedRotation, refinedTranslation, pose);
    return true;
}

osg::Matrixd PoseEstimator::toOpenGL(const osg::Matrixd& pose)
{
    return pose * osg::Matrixd::scale(1.0, -1.0, -1.0);
}

osg::Vec2d PoseEstimator::project(const osg::Matrixd& pose, const osg::Vec3d& point) const
{
    const osg::Vec3d camera = point * pose;
    const cv::Matx33d k = cameraMatrix(_camera);
    const double x = camera.x() / camera.z();
    const double y = camera.y() / camera.z();
    return osg::Vec2d(k(0, 0) * x + k(0, 1) * y + k(0, 2), k(1, 1) * y + k(1, 2));
}

} // namespace osgART
