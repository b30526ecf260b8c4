// Camera files and their lens models; and every reader of the tracking library that takes an image
// or camera path from a scene or the command line (image headers, the video's still images and
// movies, camera files in their three formats) reading its own format and refusing what is not
// such a file without hanging, crashing or keeping quiet about why.
#include "CaptureVideo.h"
#include "TestSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/InputFiles.h>
#include <osgART/UndistortionGrid.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cmath>
#include <cstring>
#include <functional>

using NovaroTest::TemporaryFolder;
using osgART::CameraParameters;

namespace
{

// Big-endian bytes written by hand, independently of the library's writer.
template <typename Bits, typename Value> void putBigEndian(std::string& bytes, Value value)
{
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 8 * sizeof bits - 8; shift >= 0; shift -= 8)
        bytes.push_back(char((bits >> shift) & 0xff));
}

const std::vector<double> kMatrix = {500.0, 0.0, 320.0, 0.0, 0.0, 510.0, 240.0, 0.0, 0.0, 0.0, 1.0, 0.0};

std::string cameraBytes(const std::vector<double>& distortion, int width = 640, int height = 480,
                        const std::vector<double>& matrix = kMatrix)
{
    std::string bytes;
    for (int32_t value : {width, height})
        putBigEndian<uint32_t>(bytes, value);
    for (const std::vector<double>* values : {&matrix, &distortion})
        for (double value : *values)
            putBigEndian<uint64_t>(bytes, value);
    return bytes;
}

// A 640x480 camera with each lens model: four-factor radial, then Brown's.
std::vector<CameraParameters> lensModels()
{
    CameraParameters radial = CameraParameters::fromIntrinsics(640, 480, 500, 510, 320, 240);
    radial.setRadial4Distortion(318, 242, 40.0, 0.97);
    CameraParameters brown = CameraParameters::fromIntrinsics(640, 480, 500, 510, 320, 240);
    brown.setBrownDistortion(-0.25, 0.08, 0.002, -0.001, 500, 510, 321, 239, 1.0);
    return {radial, brown};
}

std::string repeated(const std::string& text, int count)
{
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

// An OpenCV calibration as OpenCV writes it in YAML.
std::string openCVYaml(const std::string& width = "640",
                       const std::string& coefficients = "-0.21, 0.07, 0.001, -0.0015, 0.01")
{
    return "%YAML:1.0\n---\nimage_width: " + width +
           "\nimage_height: 480\ncamera_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
           "   data: [ 600., 0., 319.5, 0., 610., 239.5, 0., 0., 1. ]\n"
           "distortion_coefficients: !!opencv-matrix\n   rows: 1\n   cols: 5\n   dt: d\n   data: [ " +
           coefficients + " ]\n";
}

// The calibration of openCVYaml() as OpenCV writes it in XML.
std::string writeOpenCVXml(const TemporaryFolder& folder)
{
    cv::FileStorage storage(folder.file("camera.xml"), cv::FileStorage::WRITE);
    storage << "image_width" << 640 << "image_height" << 480;
    storage << "camera_matrix" << (cv::Mat_<double>(3, 3) << 600, 0, 319.5, 0, 610, 239.5, 0, 0, 1);
    storage << "distortion_coefficients" << (cv::Mat_<double>(1, 5) << -0.21, 0.07, 0.001, -0.0015, 0.01);
    return folder.file("camera.xml");
}

// The image size a reader found in a file, or why it refused it.
struct Reading
{
    bool ok = false;
    std::string found;
    std::string reason;
};

std::string sizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

Reading readHeader(const std::string& path)
{
    Reading reading;
    int width = 0, height = 0;
    reading.ok = osgART::readImageHeaderSize(path, width, height);
    reading.found = sizeText(width, height);
    return reading;
}

Reading readVideo(const std::string& path)
{
    osg::ref_ptr<osgART::CaptureVideo> video = new osgART::CaptureVideo;
    video->getVideoConfiguration()->deviceconfig = "-file=" + osgART::quoteCaptureOptionValue(path);
    Reading reading;
    reading.ok = video->open();
    reading.found = sizeText(video->getWidth(), video->getHeight());
    reading.reason = video->getProblem();
    video->close(true);
    return reading;
}

Reading readCamera(const std::string& path)
{
    CameraParameters camera;
    Reading reading;
    reading.ok = camera.load(path, &reading.reason);
    reading.found = sizeText(camera.width(), camera.height());
    return reading;
}

std::function<std::string(const TemporaryFolder&)> imageFile(const std::string& name)
{
    return [name](const TemporaryFolder& folder)
    {
        cv::imwrite(folder.file(name), cv::Mat(21, 37, CV_8UC3, cv::Scalar(10, 200, 90)));
        return folder.file(name);
    };
}

std::string writeMovie(const TemporaryFolder& folder)
{
    cv::VideoWriter writer(folder.file("clip.avi"), cv::CAP_FFMPEG,
                           cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, cv::Size(64, 48));
    for (int k = 0; k < 3; ++k)
        writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(40 * k, 100, 100)));
    return folder.file("clip.avi");
}

struct Reader
{
    const char* name;
    std::function<std::string(const TemporaryFolder&)> writeGood; ///< a file it must read; its path
    std::string expected;                                         ///< the size it must find there
    std::size_t cutTo; ///< bytes a cut copy keeps: inside what the reader cannot do without
    std::function<Reading(const std::string&)> read;
    bool saysWhy = true; ///< the header reader only answers yes or no
};

const Reader kReaders[] = {
    {"PngHeader", imageFile("image.png"), "37x21", 4, readHeader, false},
    {"JpegHeader", imageFile("image.jpg"), "37x21", 4, readHeader, false},
    {"BmpHeader", imageFile("image.bmp"), "37x21", 4, readHeader, false},
    {"PnmHeader", imageFile("image.ppm"), "37x21", 4, readHeader, false},
    {"VideoStillImage", imageFile("image.png"), "37x21", 40, readVideo},
    {"VideoMovie", writeMovie, "64x48", 200, readVideo},
    {"BinaryCamera",
     [](const TemporaryFolder& folder) {
         return folder.write("camera.dat", cameraBytes({318.0, 242.0, 30.0, 0.98}));
     },
     "640x480", 8 + 16 * 8 - 1, readCamera},
    {"YamlCamera", [](const TemporaryFolder& folder) { return folder.write("camera.yml", openCVYaml()); },
     "640x480", 150, readCamera},
    {"XmlCamera", writeOpenCVXml, "640x480", 150, readCamera},
};

} // namespace

TEST(FileReaders, ReadTheirOwnFormatAndRefuseWhatIsNotSayingWhy)
{
    for (const Reader& reader : kReaders)
    {
        SCOPED_TRACE(reader.name);
        TemporaryFolder folder;
        const std::string path = reader.writeGood(folder);
        const Reading reading = reader.read(path);
        EXPECT_TRUE(reading.ok) << reading.reason;
        EXPECT_EQ(reader.expected, reading.found);

        const std::string good = NovaroTest::readFile(path);
        ASSERT_GT(good.size(), reader.cutTo);
        const std::pair<std::string, const char*> refused[] = {
            {folder.file("missing"), "a missing file"},
            {folder.path(), "a folder"},
            {"/dev/zero", "an endless device"},
            {folder.write("empty", ""), "an empty file"},
            {folder.write("text", "not a file of this kind {[}: ---\n"), "a text"},
            {folder.write("cut", good.substr(0, reader.cutTo)), "a cut file"},
        };
        for (const auto& [file, what] : refused)
        {
            const Reading refusal = reader.read(file);
            EXPECT_FALSE(refusal.ok) << what << " read as " << refusal.found;
            EXPECT_TRUE(!reader.saysWhy || !refusal.reason.empty()) << what << " refused without a reason";
        }
    }
}

TEST(FileReaders, ImageHeadersClaimingNoPixelsAreRefusedAndAMovieKeepsItsRateAndTheRequestedSize)
{
    TemporaryFolder folder;
    for (const auto& [width, height] :
         {std::make_pair(0u, 48u), std::make_pair(64u, 0u), std::make_pair(64u, 48u)})
        EXPECT_EQ(readHeader(folder.write("header.png", NovaroTest::pngHeader(width, height))).ok,
                  width && height)
            << width << "x" << height;

    // A movie keeps its frame rate and the requested size.
    osg::ref_ptr<osgART::CaptureVideo> video = new osgART::CaptureVideo;
    video->getVideoConfiguration()->deviceconfig = "-file=" + writeMovie(folder) + " -width=32 -height=24";
    ASSERT_TRUE(video->open());
    EXPECT_NEAR(video->getFrameRate(), 25.0, 0.01);
    EXPECT_EQ(sizeText(video->getWidth(), video->getHeight()), "32x24");
    video->close(true);
}

// Each format read with its lens: the four-factor formula written out; Brown's model, in the binary
// nine-value version and in OpenCV's YAML, as OpenCV projects the ideal point's ray. (OpenCV's XML
// gives the same numbers: the OpenCV calibrations test.)
TEST(CameraFiles, EachFormatReadsWithItsLensFormulaAndDistortionRoundTrips)
{
    NovaroTest::TemporaryFolder folder;
    CameraParameters radial;
    ASSERT_TRUE(radial.load(folder.write("four.dat", cameraBytes({318.0, 242.0, 30.0, 0.98}))));
    EXPECT_EQ(osg::Vec4d(radial.fx(), radial.fy(), radial.cx(), radial.cy()), osg::Vec4d(500, 510, 320, 240));
    ASSERT_EQ(radial.distortionModel(), CameraParameters::RADIAL4);
    EXPECT_TRUE(radial.distorts());
    // observed = c + d*s*(ideal - c), d = 1 - f*1e-8*|s*(ideal - c)|^2
    const double x = 0.98 * (600.0 - 318.0), y = 0.98 * (50.0 - 242.0),
                 d = 1.0 - 30.0 * 1e-8 * (x * x + y * y);
    EXPECT_NEAR(
        (radial.idealToObserved(osg::Vec2d(600.0, 50.0)) - osg::Vec2d(318.0 + d * x, 242.0 + d * y)).length(),
        0.0, 1e-9);
    // A lens that moves nothing (factor 0 at scale 1, as a camera file written without a calibration
    // holds it, or Brown's coefficients all 0) is skipped: points stay exactly where they are.
    for (const std::vector<double>& still : {std::vector<double>{318.0, 242.0, 0.0, 1.0},
                                             std::vector<double>{0, 0, 0, 0, 500, 510, 321, 239, 1}})
    {
        CameraParameters camera;
        ASSERT_TRUE(camera.load(folder.write("still.dat", cameraBytes(still))));
        const osg::Vec2d point(600.3, 50.7);
        EXPECT_FALSE(camera.distorts());
        EXPECT_TRUE(camera.observedToIdeal(point) == point && camera.idealToObserved(point) == point);
    }

    const cv::Matx33d openCV(600, 0, 319.5, 0, 610, 239.5, 0, 0, 1);
    const std::vector<double> openCVCoefficients = {-0.21, 0.07, 0.001, -0.0015, 0.01};
    const struct
    {
        std::string path;
        cv::Matx33d k;
        std::vector<double> coefficients;
        double scale; // of (ideal - centre) before the lens
    } brown[] = {
        {folder.write("nine.dat", cameraBytes({-0.2, 0.05, 0.001, -0.002, 500, 510, 321, 239, 0.99})),
         cv::Matx33d(500, 0, 321, 0, 510, 239, 0, 0, 1),
         {-0.2, 0.05, 0.001, -0.002},
         0.99},
        {folder.write("camera.yml", openCVYaml()), openCV, openCVCoefficients, 1.0}};
    for (const auto& each : brown)
    {
        SCOPED_TRACE(each.path);
        CameraParameters camera;
        ASSERT_TRUE(camera.load(each.path));
        ASSERT_EQ(camera.distortionModel(), CameraParameters::BROWN);
        EXPECT_TRUE(camera.distorts());
        for (const osg::Vec2d ideal :
             {osg::Vec2d(600, 50), osg::Vec2d(10, 20), osg::Vec2d(320, 240), osg::Vec2d(630, 470)})
        {
            const cv::Matx33d& k = each.k;
            const std::vector<cv::Point3d> ray = {{(ideal.x() - k(0, 2)) * each.scale / k(0, 0),
                                                   (ideal.y() - k(1, 2)) * each.scale / k(1, 1), 1.0}};
            std::vector<cv::Point2d> projected;
            cv::projectPoints(ray, cv::Vec3d(), cv::Vec3d(), k, each.coefficients, projected);
            EXPECT_NEAR((camera.idealToObserved(ideal) - osg::Vec2d(projected[0].x, projected[0].y)).length(),
                        0.0, 1e-6);
        }
    }

    // Distortion round-trips across the image.
    for (const CameraParameters& camera : lensModels())
        for (double y = 0; y <= 480; y += 40)
            for (double x = 0; x <= 640; x += 40)
            {
                const osg::Vec2d observed(x, y);
                EXPECT_NEAR((camera.idealToObserved(camera.observedToIdeal(observed)) - observed).length(),
                            0.0, 1e-6)
                    << "at " << x << "," << y;
            }
}

// A calibration as OpenCV's own writer saves it, among the entries a calibration program adds (a
// date, a list, per-view errors, a matrix larger than any camera's), and as people edit it by hand.
TEST(CameraFiles, OpenCVCalibrationsReadAsOpenCVWritesThemAndAsEditedByHand)
{
    NovaroTest::TemporaryFolder folder;
    const cv::Matx33d k(612.3456789012345, 0, 319.87654321, 0, 608.123456789, 241.5, 0, 0, 1);
    const std::vector<double> coefficients = {-0.2134567890123, 0.0712345678, 0.00101, -0.00152, 0.0113};
    auto expectCamera = [&](const std::string& path)
    {
        SCOPED_TRACE(path);
        CameraParameters camera;
        std::string error;
        ASSERT_TRUE(camera.load(path, &error)) << error;
        EXPECT_EQ(sizeText(camera.width(), camera.height()), "640x480");
        const osg::Vec4d intrinsics(camera.fx(), camera.fy(), camera.cx(), camera.cy());
        EXPECT_LT((intrinsics - osg::Vec4d(k(0, 0), k(1, 1), k(0, 2), k(1, 2))).length(), 1e-9);
        const std::vector<double>& d = camera.distortion();
        ASSERT_EQ(d.size(), 13u);
        EXPECT_EQ(std::vector<double>({d[0], d[1], d[2], d[3], d[9]}), coefficients);
    };
    for (const char* name : {"written.yml", "written.xml"})
    {
        cv::FileStorage storage(folder.file(name), cv::FileStorage::WRITE);
        storage << "calibration_time"
                << "Tue Dec  8 19:00:00 2026"
                << "views"
                << "["
                << "a: b.png"
                << "]";
        storage << "image_width" << 640 << "image_height" << 480 << "camera_matrix" << cv::Mat(k);
        storage << "distortion_coefficients" << cv::Mat(cv::Mat(coefficients).t());
        storage << "extrinsic_parameters" << cv::Mat_<double>(40, 6, 0.5);
        storage.release();
        expectCamera(folder.file(name));
    }
    // A calibration program's real output (OpenCV's sample, 13 views of a real camera), read as
    // OpenCV's own reader reads this well-formed file.
    const std::string real = "/usr/share/doc/opencv-doc/examples/data/left_intrinsics.yml";
    cv::FileStorage reference(real, cv::FileStorage::READ);
    ASSERT_TRUE(reference.isOpened()) << "install Debian's opencv-doc (scripts/install-deps.sh does)";
    cv::Mat_<double> realMatrix, realCoefficients;
    reference["camera_matrix"] >> realMatrix;
    reference["distortion_coefficients"] >> realCoefficients;
    CameraParameters camera;
    ASSERT_TRUE(camera.load(real));
    EXPECT_EQ(std::vector<double>({camera.fx(), camera.cx(), camera.fy(), camera.cy(), camera.distortion()[0],
                                   camera.distortion()[9]}),
              std::vector<double>({realMatrix(0, 0), realMatrix(0, 2), realMatrix(1, 1), realMatrix(1, 2),
                                   realCoefficients(0), realCoefficients(4)}));

    // Comments, Windows line ends, a quoted key, entries in another order, data over three lines.
    std::string edited = "%YAML:1.0\r\n---\r\n# my webcam\r\n\"image_height\": 480 # measured\r\n"
                         "distortion_coefficients: !!opencv-matrix\r\n  rows: 1\r\n  cols: 5\r\n  dt: d\r\n"
                         "  data: [ -0.2134567890123, 0.0712345678,\r\n    0.00101, -0.00152, 0.0113 ]\r\n"
                         "image_width: 640\r\ncamera_matrix: !!opencv-matrix\r\n  rows: 3\r\n  cols: 3\r\n"
                         "  data: [ 612.3456789012345, 0., 319.87654321,\r\n    0., 608.123456789, 241.5,\r\n"
                         "    0., 0., 1. ]\r\n";
    expectCamera(folder.write("edited.yml", edited));

    // A slip made by hand is named with its line.
    const std::pair<std::string, std::string> slips[] = {
        {"image_width: 640\nimage_height: 480\ncamera_matrix: !!opencv-matrix\n  rows: 3\n  cols: 3\n"
         "  data: [ 600, 0, 320, 0, 600, 240, 0, 0 ]\n",
         "line 6: data holds fewer values than rows times cols (9)"},
        {"image_width: 640\nimage_height: 480\nimage_width: 800\n", "line 3: \"image_width\" appears twice"},
        {"image_width: 640\nimage_height 480\n", "line 2: expected \"key: value\""},
        {"image_width: 640\nimage_height: 480\ncamera_matrix: [ 600, 0, 320 ]\n",
         "line 3: camera_matrix is not"},
        {"{ \"image_width\": 640 }", "JSON"},
    };
    for (const auto& [text, reason] : slips)
    {
        const Reading reading = readCamera(folder.write("slip.yml", text));
        EXPECT_FALSE(reading.ok) << text;
        EXPECT_NE(reading.reason.find(reason), std::string::npos) << reading.reason;
    }
}

TEST(CameraFiles, UndistortionGridStaysWithinHundredthsOfAPixelOfTheExactSolve)
{
    const CameraParameters radial = lensModels()[0];
    // A wide-angle barrel: the strongest curvature a tracked camera is likely to have.
    CameraParameters wide = CameraParameters::fromIntrinsics(640, 480, 300, 300, 320, 240);
    wide.setBrownDistortion(-0.35, 0.12, 0.002, -0.001, 300, 300, 321, 239, 1.0);
    const struct
    {
        CameraParameters camera;
        double tolerance;
    } cases[] = {{radial, 0.01}, {radial.scaled(1920, 1440), 0.01}, {wide, 0.05}};
    for (const auto& entry : cases)
    {
        const CameraParameters& camera = entry.camera;
        osgART::UndistortionGrid grid;
        grid.setCamera(camera);
        double worst = 0.0;
        // Off the nodes (odd steps), over the whole image and just outside it.
        for (double y = -3.3; y <= camera.height() + 3; y += 6.7)
            for (double x = -3.3; x <= camera.width() + 3; x += 6.7)
            {
                const osg::Vec2d observed(x, y);
                worst = std::max(
                    worst, (grid.observedToIdeal(observed) - camera.observedToIdeal(observed)).length());
            }
        EXPECT_LT(worst, entry.tolerance) << camera.width() << " pixels wide, worst " << worst;
    }
}

TEST(CameraFiles, ScalingToAnotherVideoSizeKeepsTheLensModelAndTheProjectionItsPixels)
{
    auto up = [](const osg::Vec2d& p)
    { return osg::Vec2d((p.x() + 0.5) * 2.0 - 0.5, (p.y() + 0.5) * 2.0 - 0.5); };
    for (const CameraParameters& camera : lensModels())
    {
        const CameraParameters big = camera.scaled(1280, 960);
        EXPECT_EQ(big.width(), 1280);
        EXPECT_DOUBLE_EQ(big.fx(), 1000.0);
        EXPECT_DOUBLE_EQ(big.cx(), 640.5);
        for (const osg::Vec2d ideal : {osg::Vec2d(5, 5), osg::Vec2d(600, 60), osg::Vec2d(300, 400)})
        {
            EXPECT_NEAR((big.idealToObserved(up(ideal)) - up(camera.idealToObserved(ideal))).length(), 0.0,
                        1e-6);
        }
    }

    // The projection puts camera points on their pixels.
    const CameraParameters camera = CameraParameters::fromIntrinsics(640, 480, 500, 510, 300, 250);
    const osg::Matrixd projection = camera.openGLProjection(10.0, 10000.0);
    // OpenGL camera coordinates: x right, y up, looking down -z.
    const osg::Vec3d point(40.0, 25.0, -400.0);
    const osg::Vec4d clip = osg::Vec4d(point, 1.0) * projection;
    const double u = (clip.x() / clip.w() + 1.0) * 0.5 * 640 - 0.5;
    const double v = (1.0 - clip.y() / clip.w()) * 0.5 * 480 - 0.5;
    EXPECT_NEAR(u, 500.0 * 40.0 / 400.0 + 300.0, 1e-9);
    EXPECT_NEAR(v, 510.0 * -25.0 / 400.0 + 250.0, 1e-9);
    for (const double z : {-10.0, -10000.0})
    {
        const osg::Vec4d depth = osg::Vec4d(0, 0, z, 1) * projection;
        EXPECT_NEAR(depth.z() / depth.w(), z == -10.0 ? -1.0 : 1.0, 1e-9);
    }
}

TEST(CameraFiles, RefusesWhatNoRealCameraHasAndWhatWouldExhaustTheParserSayingWhy)
{
    NovaroTest::TemporaryFolder folder;
    auto matrix = [](double fx, double cx)
    { return std::vector<double>{fx, 0.0, cx, 0.0, 0.0, fx, 240.0, 0.0, 0.0, 0.0, 1.0, 0.0}; };
    const std::vector<double> radial = {318.0, 242.0, 30.0, 0.98};
    std::string deepBlocks = "%YAML:1.0\n---\n";
    for (int level = 0; level < 1000; ++level)
        deepBlocks += std::string(size_t(level), ' ') + "k:\n";
    std::string claimsRows = openCVYaml();
    claimsRows.replace(claimsRows.find("rows: 3"), 7, "rows: \xda");
    std::string seventeenColumns = openCVYaml("640", "0" + repeated(", 0", 16));
    seventeenColumns.replace(seventeenColumns.find("cols: 5"), 7, "cols: 17");
    const struct
    {
        const char* name;
        std::string content;
        const char* reason;
    } cases[] = {
        {"tiny focal length", cameraBytes(radial, 640, 480, matrix(1e-300, 320.0)), "focal"},
        {"telescope", cameraBytes(radial, 640, 480, matrix(1e6, 320.0)), "focal"},
        {"principal point far off", cameraBytes(radial, 640, 480, matrix(500.0, 5000.0)), "principal point"},
        {"huge image", cameraBytes(radial, 20000, 20000, matrix(15000.0, 10000.0)), "image size"},
        {"tiny image", cameraBytes(radial, 8, 8, matrix(8.0, 4.0)), "image size"},
        {"zero width", cameraBytes(radial, 0, 480), "image size"},
        {"distortion scale 0", cameraBytes({318.0, 242.0, 30.0, 0.0}), "distortion"},
        {"distortion factor NaN", cameraBytes({318.0, 242.0, std::nan(""), 1.0}), "not finite"},
        {"distortion scale 1e-300", cameraBytes({318.0, 242.0, 30.0, 1e-300}), "distortion"},
        {"distortion centre 1e300", cameraBytes({1e300, 242.0, 30.0, 0.98}), "distortion centre"},
        {"radial factor folding the image", cameraBytes({320.0, 240.0, 1e4, 1.0}), "distortion"},
        {"Brown barrel folding the image", cameraBytes({-5.0, 0.0, 0.0, 0.0, 500, 510, 320, 240, 1.0}),
         "distortion"},
        {"width that is text", openCVYaml("abc"), "image_width"},
        {"width beyond any screen", openCVYaml("100000"), "image size"},
        {"OpenCV barrel folding the image", openCVYaml("640", "-9.0, 0.0, 0.0, 0.0, 0.0"), "distortion"},
        // Texts that crashed or exhausted memory inside OpenCV's own readers, and deep nesting that
        // would exhaust the stack of a recursive parser.
        {"XML cut inside a tag",
         "<?xml version=\"1.0\"?>\n<opencv_storage>\n<image_width>640</image_width>\n<image_ra_matrix "
         "type_id=",
         "calibration file"},
        {"YAML matrix rows that are no number", claimsRows, "calibration file"},
        {"YAML flow brackets", "%YAML:1.0\n---\nimage_width: " + std::string(50000, '['), "nests"},
        {"YAML blocks", deepBlocks, "nests"},
        {"YAML sequences", "%YAML:1.0\n---\nk:\n" + repeated("- ", 50000) + "1\n", "nests"},
        {"XML elements", "<?xml version=\"1.0\"?>\n<opencv_storage>" + repeated("<a>", 50000), "nests"},
        {"XML behind a byte-order mark",
         "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<opencv_storage>" + repeated("<a>", 50000), "nests"},
        {"XML inside what ends as an instruction",
         "<?xml version=\"1.0\"?>\n<?p ><opencv_storage>" + repeated("<a>", 50000) + "?>", "nests"},
        {"YAML just over 1 MiB", openCVYaml() + std::string(1 << 20, '#'), "larger"},
        {"YAML matrix of 17 columns", seventeenColumns, "calibration file"},
        // OpenCV's YAML reader never returns from this one.
        {"YAML text on the document marker and a quote left open", "%YAML:1.\n---L:0\n'---\ni",
         "calibration file"},
    };
    for (const auto& entry : cases)
    {
        const Reading reading = readCamera(folder.write("camera", entry.content));
        EXPECT_FALSE(reading.ok) << entry.name;
        EXPECT_NE(reading.reason.find(entry.reason), std::string::npos)
            << entry.name << ": " << reading.reason;
        EXPECT_EQ(reading.found, "0x0") << entry.name;
    }
    // A real wide-angle lens with a strong barrel still passes. (The scene check of the sample scene
    // loads the sample cameras.)
    const Reading wide =
        readCamera(folder.write("wide.dat", cameraBytes({-0.35, 0.12, 0.0, 0.0, 300, 300, 320, 240, 1.0}, 640,
                                                        480, matrix(300.0, 320.0))));
    EXPECT_TRUE(wide.ok) << wide.reason;
}
