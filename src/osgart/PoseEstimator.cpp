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
void toPose(const cv::Matx33d& r, const cv::Vec3d& translation, osg::Matrixd& pose)
{
    for (int row = 0; row < 3; ++row)
    {
        for (int column = 0; column < 3; ++column)
            pose(column, row) = r(row, column);
        pose(3, row) = translation[row];
        pose(row, 3) = 0.0;
    }
    pose(3, 3) = 1.0;
}

void fromPose(const osg::Matrixd& pose, cv::Matx33d& r, cv::Vec3d& translation)
{
    for (int row = 0; row < 3; ++row)
    {
        for (int column = 0; column < 3; ++column)
            r(row, column) = pose(column, row);
        translation[row] = pose(3, row);
    }
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
// Refinement stops after this many steps, or when a step lowers the squared error by less than this
// share of it.
const int kRefineIterations = 20;
const double kRefineRelativeGain = 1e-10;

// The rotation of the axis-angle vector w (Rodrigues' formula).
cv::Matx33d rotationOf(const cv::Vec3d& w)
{
    const double angle = cv::norm(w);
    const cv::Matx33d cross(0.0, -w[2], w[1], w[2], 0.0, -w[0], -w[1], w[0], 0.0);
    if (angle < 1e-12)
        return cv::Matx33d::eye() + cross;
    const double a = std::sin(angle) / angle;
    const double b = (1.0 - std::cos(angle)) / (angle * angle);
    return cv::Matx33d::eye() + a * cross + b * (cross * cross);
}

// Sum of squared reprojection errors (pixels squared); false when a point falls behind the camera.
bool reprojectionCost(const cv::Point3d* object, const cv::Point2d* image, size_t count, const cv::Matx33d& k,
                      const cv::Matx33d& rotation, const cv::Vec3d& translation, double& cost)
{
    cost = 0.0;
    for (size_t i = 0; i < count; ++i)
    {
        const cv::Vec3d c = rotation * cv::Vec3d(object[i].x, object[i].y, object[i].z) + translation;
        if (!(c[2] > 0.0))
            return false;
        const double u = k(0, 0) * c[0] / c[2] + k(0, 1) * c[1] / c[2] + k(0, 2);
        const double v = k(1, 1) * c[1] / c[2] + k(1, 2);
        cost += (u - image[i].x) * (u - image[i].x) + (v - image[i].y) * (v - image[i].y);
    }
    return true;
}

// The Gauss-Newton normal equations of the reprojection error at the pose: J^T J and J^T r over
// the points, with J the derivative by (rotation increment, translation).
void normalEquations(const cv::Point3d* object, const cv::Point2d* image, size_t count, const cv::Matx33d& k,
                     const cv::Matx33d& rotation, const cv::Vec3d& translation,
                     cv::Matx<double, 6, 6>& normal, cv::Vec<double, 6>& gradient)
{
    normal = cv::Matx<double, 6, 6>::zeros();
    gradient = cv::Vec<double, 6>::all(0.0);
    for (size_t i = 0; i < count; ++i)
    {
        const cv::Vec3d turned = rotation * cv::Vec3d(object[i].x, object[i].y, object[i].z);
        const cv::Vec3d c = turned + translation;
        const double z = 1.0 / c[2];
        // Derivatives of (u, v) by the camera-frame point.
        const cv::Vec3d du(k(0, 0) * z, k(0, 1) * z, -(k(0, 0) * c[0] + k(0, 1) * c[1]) * z * z);
        const cv::Vec3d dv(0.0, k(1, 1) * z, -k(1, 1) * c[1] * z * z);
        // The point moves by w x turned for a small rotation w, and by the translation itself.
        const cv::Vec<double, 6> rowU(du[2] * turned[1] - du[1] * turned[2],
                                      du[0] * turned[2] - du[2] * turned[0],
                                      du[1] * turned[0] - du[0] * turned[1], du[0], du[1], du[2]);
        const cv::Vec<double, 6> rowV(dv[2] * turned[1] - dv[1] * turned[2],
                                      dv[0] * turned[2] - dv[2] * turned[0],
                                      dv[1] * turned[0] - dv[0] * turned[1], dv[0], dv[1], dv[2]);
        const double ru = k(0, 0) * c[0] * z + k(0, 1) * c[1] * z + k(0, 2) - image[i].x;
        const double rv = k(1, 1) * c[1] * z + k(1, 2) - image[i].y;
        normal += rowU * rowU.t() + rowV * rowV.t();
        gradient += ru * rowU + rv * rowV;
    }
}

// Least squares on the reprojection error by Levenberg-Marquardt over a rotation increment (applied
// on the left, so the derivative at zero is simple) and the translation. A handful of points and six
// unknowns: the normal equations fit in fixed-size matrices and nothing is allocated, which matters
// because every tracked marker goes through here twice a frame. cost: the final sum of squared errors.
bool refinePose(const cv::Point3d* object, const cv::Point2d* image, size_t count, const cv::Matx33d& k,
                cv::Matx33d& rotation, cv::Vec3d& translation, double& cost)
{
    if (!reprojectionCost(object, image, count, k, rotation, translation, cost))
        return false;
    double damping = 1e-3;
    for (int iteration = 0; iteration < kRefineIterations && cost > 0.0; ++iteration)
    {
        cv::Matx<double, 6, 6> normal;
        cv::Vec<double, 6> gradient;
        normalEquations(object, image, count, k, rotation, translation, normal, gradient);
        bool improved = false;
        while (!improved && damping < 1e8)
        {
            cv::Matx<double, 6, 6> damped = normal;
            for (int d = 0; d < 6; ++d)
                damped(d, d) *= 1.0 + damping;
            cv::Vec<double, 6> step;
            if (!cv::solve(damped, -gradient, step, cv::DECOMP_CHOLESKY))
                return false;
            const cv::Matx33d nextRotation = rotationOf(cv::Vec3d(step[0], step[1], step[2])) * rotation;
            const cv::Vec3d nextTranslation = translation + cv::Vec3d(step[3], step[4], step[5]);
            double nextCost;
            if (reprojectionCost(object, image, count, k, nextRotation, nextTranslation, nextCost) &&
                nextCost < cost)
            {
                const bool converged = cost - nextCost < kRefineRelativeGain * cost;
                rotation = nextRotation;
                translation = nextTranslation;
                cost = nextCost;
                damping = std::max(1e-9, damping * 0.1);
                improved = true;
                if (converged)
                    return true;
            }
            else
                damping *= 10.0;
        }
        if (!improved)
            break;
    }
    return true;
}

// Which of a square's two poses to take: the one that fits its corners better, unless they fit
// almost equally well.
size_t chooseOfTwo(const std::array<osg::Matrixd, 2>& candidates, const std::array<double, 2>& errors,
                   const osg::Matrixd* previous)
{
    const size_t closer = errors[1] < errors[0] ? 1 : 0;
    if (!previous)
        return closer;
    // Near-frontal squares give two poses that fit the corners almost equally well: then the one
    // closer to the last frame's keeps the content from flipping between them.
    const double better = std::min(errors[0], errors[1]);
    const double worse = std::max(errors[0], errors[1]);
    const double first = rotationDistance(candidates[0], *previous);
    const double second = rotationDistance(candidates[1], *previous);
    // A previous pose far from both says nothing about this one (the marker moved, or is another).
    if (worse < kAmbiguousErrorRatio * better + kAmbiguousErrorPixels &&
        std::min(first, second) < kPreviousPoseReach)
        return second < first ? 1 : 0;
    return closer;
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
                                   const osg::Vec2d& centre, osg::Matrixd& pose,
                                   const osg::Matrixd* previous) const
{
    if (!(size > 0.0))
        return false;
    const double half = 0.5 * size;
    // The square solver wants the square centred on the origin; the centre offset is applied after.
    const std::array<cv::Point3d, 4> object = {cv::Point3d(-half, half, 0.0), cv::Point3d(half, half, 0.0),
                                               cv::Point3d(half, -half, 0.0), cv::Point3d(-half, -half, 0.0)};
    std::array<cv::Point2d, 4> image;
    for (size_t i = 0; i < 4; ++i)
        image[i] = cv::Point2d(ideal[i].x(), ideal[i].y());
    const cv::Matx33d k = cameraMatrix(_camera);
    std::vector<cv::Mat> rotations, translations;
    try
    {
        cv::solvePnPGeneric(object, image, k, cv::noArray(), rotations, translations, false,
                            cv::SOLVEPNP_IPPE_SQUARE);
    }
    catch (const cv::Exception&)
    {
        return false;
    }
    std::array<osg::Matrixd, 2> candidates;
    std::array<double, 2> candidateErrors{};
    size_t found = 0;
    for (size_t s = 0; s < rotations.size() && s < translations.size() && found < 2; ++s)
    {
        cv::Matx33d rotation;
        cv::Rodrigues(cv::Vec3d(rotations[s]), rotation);
        cv::Vec3d translation(translations[s]);
        // The square solver works from the homography's first-order part, which fixes the tilt of a
        // nearly frontal square poorly; least squares on the corners adds the perspective cue.
        double cost;
        if (!refinePose(object.data(), image.data(), 4, k, rotation, translation, cost))
            continue;
        osg::Matrixd centred;
        toPose(rotation, translation, centred);
        if (!(translation[2] > 0.0) || !facesCamera(centred))
            continue;
        candidates[found] = osg::Matrixd::translate(-centre.x(), -centre.y(), 0.0) * centred;
        candidateErrors[found] = std::sqrt(cost / 4.0);
        ++found;
    }
    if (found == 0)
        return false;
    pose = candidates[found == 2 ? chooseOfTwo(candidates, candidateErrors, previous) : 0];
    return true;
}

bool PoseEstimator::estimatePlanar(const std::vector<osg::Vec3d>& object,
                                   const std::vector<osg::Vec2d>& ideal, osg::Matrixd& pose) const
{
    if (object.size() != ideal.size() || object.size() < 4)
        return false;
    std::vector<cv::Point3d> objectPoints;
    std::vector<cv::Point2d> imagePoints;
    for (size_t i = 0; i < object.size(); ++i)
    {
        objectPoints.emplace_back(object[i].x(), object[i].y(), 0.0);
        imagePoints.emplace_back(ideal[i].x(), ideal[i].y());
    }
    const cv::Matx33d k = cameraMatrix(_camera);
    std::vector<cv::Mat> rotations, translations;
    try
    {
        cv::solvePnPGeneric(objectPoints, imagePoints, k, cv::noArray(), rotations, translations, false,
                            cv::SOLVEPNP_IPPE);
    }
    catch (const cv::Exception&)
    {
        return false;
    }
    double best = -1.0;
    for (size_t s = 0; s < rotations.size() && s < translations.size(); ++s)
    {
        cv::Matx33d rotation;
        cv::Rodrigues(cv::Vec3d(rotations[s]), rotation);
        cv::Vec3d translation(translations[s]);
        double cost;
        if (!refinePose(objectPoints.data(), imagePoints.data(), objectPoints.size(), k, rotation,
                        translation, cost))
            continue;
        osg::Matrixd candidate;
        toPose(rotation, translation, candidate);
        if (!(translation[2] > 0.0) || !facesCamera(candidate) || (best >= 0.0 && cost >= best))
            continue;
        best = cost;
        pose = candidate;
    }
    return best >= 0.0;
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
    cv::Matx33d rotation;
    cv::Vec3d translation;
    fromPose(pose, rotation, translation);
    double cost;
    if (!refinePose(objectPoints.data(), imagePoints.data(), objectPoints.size(), cameraMatrix(_camera),
                    rotation, translation, cost) ||
        !(translation[2] > 0.0))
        return false;
    toPose(rotation, translation, pose);
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
