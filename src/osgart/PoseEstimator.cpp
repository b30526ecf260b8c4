#include "osgART/PoseEstimator.h"

#include <opencv2/calib3d.hpp>

#include <osg/Math>
#include <osg/Quat>

#include <algorithm>
#include <cmath>

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

// A marker seen from behind cannot be: its printed side (+z) must face the camera at the origin.
bool facesCamera(const osg::Matrixd& pose)
{
    const osg::Vec3d normal = osg::Matrixd::transform3x3(osg::Vec3d(0.0, 0.0, 1.0), pose);
    return normal * pose.getTrans() < 0.0;
}

// Angle between the rotations of two poses, in radians.
double rotationDistance(const osg::Matrixd& first, const osg::Matrixd& second)
{
    osg::Quat difference = first.getRotate() * second.getRotate().inverse();
    double angle;
    osg::Vec3d axis;
    difference.getRotate(angle, axis);
    angle = std::fabs(angle);
    return angle > osg::PI ? 2.0 * osg::PI - angle : angle;
}

// Reprojection errors this close (root mean square, pixels) leave the choice to the previous pose.
const double kAmbiguousErrorRatio = 1.5;
const double kAmbiguousErrorPixels = 0.3;
const double kPreviousPoseReach = osg::DegreesToRadians(10.0);

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
                                   const osg::Vec2d& centre, osg::Matrixd& pose,
                                   const osg::Matrixd* previous) const
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
    std::vector<cv::Mat> rotations, translations;
    std::vector<double> errors;
    try
    {
        cv::solvePnPGeneric(object, image, cameraMatrix(_camera), cv::noArray(), rotations, translations,
                            false, cv::SOLVEPNP_IPPE_SQUARE, cv::noArray(), cv::noArray(), errors);
    }
    catch (const cv::Exception&)
    {
        return false;
    }
    std::vector<osg::Matrixd> candidates;
    std::vector<double> candidateErrors;
    std::vector<cv::Point2d> projected;
    for (size_t k = 0; k < rotations.size() && k < translations.size(); ++k)
    {
        // The square solver works from the homography's first-order part, which fixes the tilt of a
        // nearly frontal square poorly; least squares on the corners adds the perspective cue.
        try
        {
            cv::solvePnPRefineLM(object, image, cameraMatrix(_camera), cv::noArray(), rotations[k],
                                 translations[k]);
            cv::projectPoints(object, rotations[k], translations[k], cameraMatrix(_camera), cv::noArray(),
                              projected);
        }
        catch (const cv::Exception&)
        {
            continue;
        }
        double squares = 0.0;
        for (size_t p = 0; p < image.size(); ++p)
            squares += std::pow(cv::norm(projected[p] - image[p]), 2);
        if (k < errors.size())
            errors[k] = std::sqrt(squares / double(image.size()));
        const cv::Vec3d rotation(rotations[k]), translation(translations[k]);
        osg::Matrixd centred;
        fromRodrigues(rotation, translation, centred);
        if (!(translation[2] > 0.0) || !facesCamera(centred))
            continue;
        candidates.push_back(osg::Matrixd::translate(-centre.x(), -centre.y(), 0.0) * centred);
        candidateErrors.push_back(k < errors.size() ? errors[k] : 0.0);
    }
    if (candidates.empty())
        return false;
    size_t chosen = 0;
    if (candidates.size() == 2)
    {
        chosen = candidateErrors[1] < candidateErrors[0] ? 1 : 0;
        // Near-frontal squares give two poses that fit the corners almost equally well: then the one
        // closer to the last frame's keeps the content from flipping between them.
        const double better = std::min(candidateErrors[0], candidateErrors[1]);
        const double worse = std::max(candidateErrors[0], candidateErrors[1]);
        const double first = previous ? rotationDistance(candidates[0], *previous) : 0.0;
        const double second = previous ? rotationDistance(candidates[1], *previous) : 0.0;
        // A previous pose far from both says nothing about this one (the marker moved, or is another).
        if (previous && worse < kAmbiguousErrorRatio * better + kAmbiguousErrorPixels &&
            std::min(first, second) < kPreviousPoseReach)
            chosen = second < first ? 1 : 0;
    }
    pose = candidates[chosen];
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
