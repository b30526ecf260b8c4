// A scene made with "novaro-scene new" as a new user makes one: a glTF model written Y-up in
// metres as the glTF standard says, and an OBJ model in millimetres, Z-up. The printed marker
// sheet (the PDF rendered by pdftoppm) is filmed by the synthetic camera at a known pose, the
// player plays the scene on that frame, and the screenshot shows each model standing on its
// marker at its real size.
#include "../scene/AssimpTestScenes.h"
#include "SampleScene.h"

#include "MarkerSheet.h"
#include "PdfWriter.h"
#include "SyntheticScene.h"

#include <gtest/gtest.h>

#include <assimp/scene.h>

#include <opencv2/imgcodecs.hpp>

#include <osgART/CameraParameters.h>
#include <osgART/Pattern.h>

#include <osg/BoundingBox>
#include <osg/io_utils>

#include <array>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <tuple>

using namespace NovaroTest;

namespace
{

// The glTF model: a column 30 mm square and 90 mm tall, written in metres with glTF's up (+Y),
// its base on the ground at the origin, unlit pure red.
const float kColumnSide = 0.030f, kColumnHeight = 0.090f;
// The OBJ model: a block 40 x 40 mm and 60 mm tall, written Y-up (as OBJ files are, and as the
// model reader expects: it turns them Z-up) in millimetres, green.
const float kBlockSide = 40.0f, kBlockHeight = 60.0f;
// The sheet is tilted back by this angle from facing the camera, at this distance (mm).
const double kTiltDegrees = 50.0;
const double kDistance = 480.0;
const double kDotsPerInch = 150.0;
const double kMarkerSize = 80.0;

// Marker coordinates, mm.
typedef osg::BoundingBoxd Box;

// A glTF text naming its data in a .bin file beside it (the scene maker must copy both): the box's
// eight corners and its twelve triangles, outward facing.
void writeColumnGltf(const TemporaryFolder& folder, float factor = 1.0f)
{
    const float h = factor * kColumnSide / 2.0f, top = factor * kColumnHeight;
    const osg::BoundingBox column(-h, 0.0f, -h, h, top, h);
    std::vector<float> positions;
    for (int corner = 0; corner < 8; ++corner)
        for (int axis = 0; axis < 3; ++axis)
            positions.push_back(column.corner(corner)[axis]);
    const std::vector<uint16_t> triangles = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                                             2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    std::ofstream bin(folder.file("column.bin"), std::ios::binary);
    bin.write(reinterpret_cast<const char*>(positions.data()), std::streamsize(positions.size() * 4));
    bin.write(reinterpret_cast<const char*>(triangles.data()), std::streamsize(triangles.size() * 2));
    const std::string gltf = R"({
  "asset": {"version": "2.0"},
  "extensionsUsed": ["KHR_materials_unlit"],
  "scene": 0, "scenes": [{"nodes": [0]}],
  "nodes": [{"name": "Column", "mesh": 0}],
  "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "material": 0}]}],
  "materials": [{"pbrMetallicRoughness": {"baseColorFactor": [1, 0, 0, 1]},
                 "extensions": {"KHR_materials_unlit": {}}}],
  "buffers": [{"uri": "column.bin", "byteLength": 168}],
  "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 96},
                  {"buffer": 0, "byteOffset": 96, "byteLength": 72}],
  "accessors": [{"bufferView": 0, "componentType": 5126, "count": 8, "type": "VEC3",
                 "min": [-H, 0, -H], "max": [H, TOP, H]},
                {"bufferView": 1, "componentType": 5123, "count": 36, "type": "SCALAR"}]
})";
    std::string text = std::regex_replace(gltf, std::regex("-H"), std::to_string(-h));
    text = std::regex_replace(text, std::regex("TOP"), std::to_string(top));
    folder.write("column.gltf", std::regex_replace(text, std::regex("\\bH\\b"), std::to_string(h)));
}

// An OBJ block with one normal per face and its colour in a material library beside it, the
// middle of its base at 'base' (the file's coordinates). Written Y up (as OBJ files are, and as the
// model reader expects) or, zUp, Z up as some exporters write them.
void writeBlockObj(const TemporaryFolder& folder, float factor = 1.0f, const osg::Vec3f& base = {},
                   bool zUp = false)
{
    // Y up to Z up: the file's (x, y, z) becomes (x, -z, y).
    auto written = [zUp](const osg::Vec3f& yUp)
    { return zUp ? osg::Vec3f(yUp.x(), -yUp.z(), yUp.y()) : yUp; };
    folder.write("block.mtl", "newmtl green\nKa 0 0.3 0\nKd 0.1 0.9 0.1\n");
    const float h = factor * kBlockSide / 2.0f;
    std::ostringstream obj;
    obj << std::setprecision(9) << "mtllib block.mtl\nusemtl green\n";
    for (int corner = 0; corner < 8; ++corner)
    {
        const osg::Vec3f vertex =
            written(base + osg::Vec3f(corner & 1 ? h : -h, corner & 4 ? factor * kBlockHeight : 0.0f,
                                      corner & 2 ? -h : h));
        obj << "v " << vertex.x() << " " << vertex.y() << " " << vertex.z() << "\n";
    }
    for (const osg::Vec3f& normal : {osg::Vec3f(0, -1, 0), osg::Vec3f(0, 1, 0), osg::Vec3f(0, 0, 1),
                                     osg::Vec3f(0, 0, -1), osg::Vec3f(-1, 0, 0), osg::Vec3f(1, 0, 0)})
        obj << "vn " << written(normal).x() << " " << written(normal).y() << " " << written(normal).z()
            << "\n";
    obj << "f 1//1 3//1 4//1 2//1\nf 5//2 6//2 8//2 7//2\nf 1//3 2//3 6//3 5//3\n"
           "f 3//4 7//4 8//4 4//4\nf 1//5 5//5 7//5 3//5\nf 2//6 4//6 8//6 6//6\n";
    folder.write("block.obj", obj.str());
}

// A marker's centre in the page's frame (x right, y up, origin at the page's centre, mm), where the
// sheet's layout puts the scene's markers, in their order.
osg::Vec3d markerCentre(size_t index)
{
    std::vector<Novaro::SheetPlacement> placements;
    std::string error;
    EXPECT_TRUE(Novaro::layoutMarkerSheet(
        std::vector<Novaro::SheetMarker>(2, {"", osgART::Pattern(), kMarkerSize}), placements, error));
    const Novaro::SheetPlacement& place = placements.at(index);
    return osg::Vec3d(place.x + place.size / 2.0 - Novaro::PdfDocument::kA4Width / 2.0,
                      Novaro::PdfDocument::kA4Height / 2.0 - (place.y + place.size / 2.0), 0.0);
}

// The camera that filmed a printed sheet, and the page's pose.
struct FilmedSheet
{
    std::unique_ptr<Novaro::SyntheticCamera> camera;
    osg::Matrixd pagePose;
};

// The bounding rectangle (camera pixels) of a box on the filmed sheet's marker (by its index).
cv::Rect2d projectedBox(const FilmedSheet& filmed, size_t marker, const Box& box)
{
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (int corner = 0; corner < 8; ++corner)
    {
        const osg::Vec2d pixel = filmed.camera->projectObserved(
            osg::Matrixd::translate(markerCentre(marker)) * filmed.pagePose, box.corner(corner));
        left = std::min(left, pixel.x());
        right = std::max(right, pixel.x());
        top = std::min(top, pixel.y());
        bottom = std::max(bottom, pixel.y());
    }
    return cv::Rect2d(left, top, right - left, bottom - top);
}

// The bounding rectangle (camera pixels) of the screenshot's pixels of one colour near where the
// box is expected; empty when there are none.
template <typename Test>
cv::Rect2d measuredBox(const osg::Image& shot, const cv::Rect2d& expected, Test isColour)
{
    const double sx = shot.s() / 640.0, sy = shot.t() / 480.0;
    const cv::Rect2d search(expected.x - expected.width, expected.y - expected.height, 3 * expected.width,
                            3 * expected.height);
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (int y = std::max(0, int(search.y * sy)); y < std::min(shot.t(), int(search.br().y * sy)); ++y)
        for (int x = std::max(0, int(search.x * sx)); x < std::min(shot.s(), int(search.br().x * sx)); ++x)
            if (isColour(pixel(shot, x, y)))
            {
                left = std::min(left, x / sx);
                right = std::max(right, (x + 1) / sx);
                top = std::min(top, y / sy);
                bottom = std::max(bottom, (y + 1) / sy);
            }
    return left > right ? cv::Rect2d() : cv::Rect2d(left, top, right - left, bottom - top);
}

bool isRed(const osg::Vec3i& p)
{
    return p.x() > 200 && p.y() < 60 && p.z() < 60;
}
bool isGreen(const osg::Vec3i& p)
{
    return p.y() > p.x() + 40 && p.y() > p.z() + 40;
}

// "novaro-scene" with the arguments, run from the folder.
PlayerRun sceneTool(const TemporaryFolder& work, const std::vector<std::string>& arguments)
{
    return runExecutable(RUN_DIRECTORY + "/novaro-scene", work.path(), arguments);
}

// A refusal with exit status 1 that gives the reason.
void expectRefused(const PlayerRun& run, const std::string& reason)
{
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(reason), std::string::npos) << run.output;
}

// The pattern (its first orientation) a pattern file holds, or a picture makes.
osgART::Pattern::Block patternOf(const std::string& file)
{
    osgART::Pattern pattern;
    EXPECT_TRUE(pattern.load(file)) << file;
    return pattern.block(0);
}
osgART::Pattern::Block patternOf(const cv::Mat& picture)
{
    osgART::Pattern pattern;
    EXPECT_TRUE(pattern.setFromImage(picture));
    return pattern.block(0);
}

// hiddenBelow: a model nearer the camera may hide this one's lower part; its top, width and place
// are still measured, and at least 40 % of its height must show.
void expectSameBox(const cv::Rect2d& measured, const cv::Rect2d& expected, bool hiddenBelow = false)
{
    ASSERT_GT(measured.area(), 0.0) << "model not seen";
    // Upright and at size: the height and width as projected within 12 %, in place within 6 px.
    if (hiddenBelow)
    {
        EXPECT_GE(measured.height, 0.4 * expected.height);
        EXPECT_LE(measured.height, 1.12 * expected.height);
    }
    else
        EXPECT_NEAR(measured.height, expected.height, 0.12 * expected.height);
    EXPECT_NEAR(measured.width, expected.width, 0.12 * expected.width);
    EXPECT_NEAR(measured.y, expected.y, 6.0);
    EXPECT_NEAR(measured.x + measured.width / 2, expected.x + expected.width / 2, 6.0);
}

// The scene's printed sheet filmed from above and in front (the page tilted back by kTiltDegrees)
// into frame.png in 'work', with the camera that filmed it and the page's pose. A still frame needs
// no smoothing: the scene's is turned off, so that the models stand where they are measured from
// the frame after the one that finds the markers.
void filmPrintedSheet(const std::string& scene, const TemporaryFolder& work, FilmedSheet& filmed)
{
    const std::string page = work.file("page");
    ASSERT_EQ(std::system(("pdftoppm -r " + std::to_string(int(kDotsPerInch)) + " -png -singlefile " +
                           quote(scene + "/markers.pdf") + " " + quote(page))
                              .c_str()),
              0);
    const cv::Mat printed = cv::imread(page + ".png", cv::IMREAD_COLOR);
    ASSERT_FALSE(printed.empty());
    osgART::CameraParameters camera;
    ASSERT_TRUE(camera.load(scene + "/camera_640x480.dat"));
    Novaro::ImagingSettings imaging;
    imaging.clutter = false;
    imaging.noiseSigma = 1.0;
    imaging.lightVariation = 0.1;
    filmed.camera = std::make_unique<Novaro::SyntheticCamera>(camera, imaging);
    filmed.pagePose = osg::Matrixd::rotate(osg::DegreesToRadians(-kTiltDegrees), osg::X_AXIS) *
                      osg::Matrixd::translate(0.0, 0.0, -kDistance);
    Novaro::PlacedMarker sheet;
    sheet.pose = filmed.pagePose;
    filmed.camera->describe(sheet, 297.0);
    for (const osg::Vec2d& corner : sheet.corners)
        ASSERT_TRUE(corner.x() > 0 && corner.y() > 0 && corner.x() < 640 && corner.y() < 480)
            << "page out of view";
    std::mt19937 random(3);
    cv::Mat frame;
    // The A4 page as a square texture (white at the sides): a "marker" 297 mm wide without paper
    // around it, centred on the page's centre.
    Novaro::PrintedMarker paper;
    const int left = (printed.rows - printed.cols) / 2;
    cv::copyMakeBorder(printed, paper.texture, 0, 0, left, printed.rows - printed.cols - left,
                       cv::BORDER_CONSTANT, cv::Scalar::all(255));
    paper.size = 297.0;
    paper.margin = 0.0;
    filmed.camera->render({paper}, {sheet}, random, frame);
    ASSERT_TRUE(cv::imwrite(work.file("frame.png"), frame));
    replaceInFile(scene + "/tracker.xml", "\"smooth_tracking\">true<", "\"smooth_tracking\">false<");
}

// Makes a scene of the column and the block (each written 'factor' times its size) with the given
// sizing options, films its printed sheet and plays it; each model must stand upright on its
// marker at its size as made times the scale the options give.
void expectModelsOnThePrintedSheet(const char* name, const std::vector<std::string>& sizing,
                                   float columnFactor, float blockFactor, double columnScale,
                                   double blockScale, bool columnHiddenBelow = false,
                                   const osg::Vec3f& blockBase = {}, bool blockZUp = false)
{
    SCOPED_TRACE(name);
    TemporaryFolder models, work;
    writeColumnGltf(models, columnFactor);
    writeBlockObj(models, blockFactor, blockBase, blockZUp);
    const std::string scene = work.file("my scene");
    std::vector<std::string> arguments = {
        "new",         scene,    "--model", models.file("column.gltf"), "--model", models.file("block.obj"),
        "--generated", "--size", "80"};
    arguments.insert(arguments.end(), sizing.begin(), sizing.end());
    const PlayerRun made = sceneTool(work, arguments);
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_NE(
        made.output.find("No camera file given: wrote camera_640x480.dat, a generic camera for 640x480"),
        std::string::npos);
    // (The scene's files, the models with the files they name among them, are read by the play.)

    FilmedSheet filmed;
    filmPrintedSheet(scene, work, filmed);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const PlayerRun run =
        runPlayer(RUN_DIRECTORY, {scene, "-video_file", work.file("frame.png"), "-max_frames", "5",
                                  "-screenshot", work.file("shot.png")});
    ASSERT_EQ(run.status, 0);
    osg::ref_ptr<osg::Image> shot = osgDB::readImageFile(work.file("shot.png"));
    ASSERT_TRUE(shot.valid());

    const double c = 1000.0 * kColumnSide / 2.0 * columnFactor * columnScale;
    const Box column(-c, -c, 0.0, c, c, 1000.0 * kColumnHeight * columnFactor * columnScale);
    const double b = kBlockSide / 2.0 * blockFactor * blockScale;
    const Box block(-b, -b, 0.0, b, b, kBlockHeight * blockFactor * blockScale);
    for (const auto& [name, marker, box, isColour, hiddenBelow] :
         {std::make_tuple("glTF column on marker 1", 0, column, isRed, columnHiddenBelow),
          std::make_tuple("OBJ block on marker 2", 1, block, isGreen, false)})
    {
        SCOPED_TRACE(name);
        const cv::Rect2d expected = projectedBox(filmed, size_t(marker), box);
        expectSameBox(measuredBox(*shot, expected, isColour), expected, hiddenBelow);
    }
}

} // namespace

// Models at their real size stand upright on their markers at that size. Models as people make
// them: a glTF animal at its real size (1.2 x 1.2 x 3.6 m) and an OBJ of a sixth of a millimetre
// made away from its origin (as a scan is, where the scanner stood) and Z up, said with --up.
// Fitted by default, each stands upright on its marker as wide as the marker at its largest side,
// the middle of its foot on the marker's centre: both are seen (they used to fill the screen and
// vanish, and the block lay on its side). The block, wider now and nearer the camera, hides the
// column's foot.
TEST(NewSceneEndToEnd, ModelsStandUprightOnThePrintedSheetAtTheirRealSizeOrFittedToTheirMarkers)
{
    NOVARO_REQUIRE_DISPLAY();
    expectModelsOnThePrintedSheet("real size", {"--real-size"}, 1.0f, 1.0f, 1.0, 1.0);
    const float animal = 40.0f, speck = 0.16f / kBlockHeight;
    expectModelsOnThePrintedSheet(
        "fitted", {"--up", "y", "--up", "z"}, animal, speck, kMarkerSize / (1000.0 * kColumnHeight * animal),
        kMarkerSize / (kBlockHeight * speck), true, osg::Vec3f(0.3f, -0.2f, 0.25f), true);
}

// A model made with another axis up than its format's convention stands upright with --up: a PLY
// scan (a format read as made, Z up) made Y up, 10 x 40 x 10 mm, and an OBJ block (a format read
// as Y up) made Z up, both off their origins, each with its lowest point on the paper and its
// footprint's middle on the marker's centre. An FBX model, which the player turns from Y up, is
// measured and centred as it stands after that turn.
TEST(NewSceneEndToEnd, ModelsMadeWithAnotherAxisUpStandUprightWithUp)
{
    TemporaryFolder models, work;
    std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\nproperty float y\n"
        "property float z\nelement face 12\nproperty list uchar int vertex_indices\nend_header\n";
    for (int corner = 0; corner < 8; ++corner)
        ply += std::to_string(corner & 1 ? 15 : 5) + " " + std::to_string(corner & 2 ? 40 : 0) + " " +
               std::to_string(corner & 4 ? 7 : -3) + "\n";
    ply += "3 0 2 1\n3 1 2 3\n3 4 5 6\n3 5 7 6\n3 0 1 4\n3 1 5 4\n"
           "3 2 6 3\n3 3 6 7\n3 0 4 2\n3 2 4 6\n3 1 3 5\n3 3 7 5\n";
    models.write("scan.ply", ply);
    writeBlockObj(models, 1.0f, osg::Vec3f(3.0f, -2.0f, 5.0f), true);
    ASSERT_EQ(AssimpTestScenes::exportScene(*AssimpTestScenes::buildAnimatedScene("", ""), "fbxa",
                                            models.file("turned.fbx")),
              "");
    const PlayerRun made =
        sceneTool(work, {"new", work.file("scan"), "--model", models.file("scan.ply"), "--model",
                         models.file("block.obj"), "--model", models.file("turned.fbx"), "--up", "y", "--up",
                         "z", "--up", "y", "--real-size"});
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* size : {"models/scan.ply: 10 x 10 x 40 mm (width, depth, height) as made, y up",
                             "models/turned.fbx: 2 x 0 x 7 mm (width, depth, height) as made, y up"})
        EXPECT_NE(made.output.find(size), std::string::npos) << made.output;
    const std::string scene = readFile(work.file("scan/scene.xml"));
    // The scan turned up about x, (x, y, z) stands at (x, -z, y): x 5..15, y -7..3, z 0..40. The
    // block, the middle of its base at (3, -5, -2) in its file, is moved by (-3, 5, 2). Assimp's
    // exporter writes the FBX's quad about (10, 0, 0) and its triangle at (10..11, 5..6, 0), which
    // stand from 1 mm below to 6 mm above the marker's x axis.
    for (const char* translation :
         {"<translation x=\"-10\" y=\"2\" z=\"0\"/>", "<translation x=\"-3\" y=\"5\" z=\"2\"/>",
          "<translation x=\"-10\" y=\"0\" z=\"1\"/>"})
        EXPECT_NE(scene.find(translation), std::string::npos) << scene;
}

// The user's pictures become the patterns, in order; a model's references that would leave its
// folder are not followed; what cannot be made is refused with the reason and exit status 1.
TEST(NewSceneEndToEnd, PatternsFromPicturesAndRefusals)
{
    TemporaryFolder models, work;
    writeBlockObj(models);
    models.write("escape.gltf", R"({"asset": {"version": "2.0"}, "buffers": [{"uri": "../outside.bin"}]})");
    cv::Mat left(64, 64, CV_8UC3, cv::Scalar::all(255)), right = left.clone();
    left(cv::Rect(0, 0, 32, 64)).setTo(cv::Scalar::all(0));
    right(cv::Rect(0, 0, 64, 20)).setTo(cv::Scalar(0, 0, 200));
    ASSERT_TRUE(cv::imwrite(models.file("left.png"), left) && cv::imwrite(models.file("right.png"), right));
    const std::string scene = work.file("pictures");
    ASSERT_EQ(sceneTool(work, {"new", scene, "--model", models.file("block.obj"), "--model",
                               models.file("escape.gltf"), "--marker", models.file("left.png"), "--marker",
                               models.file("right.png")})
                  .status,
              0);
    for (const auto& [patternFile, picture] :
         {std::make_pair("patterns/marker_1.patt", left), std::make_pair("patterns/marker_2.patt", right)})
        EXPECT_EQ(patternOf(scene + "/" + patternFile), patternOf(picture)) << patternFile;
    EXPECT_FALSE(std::filesystem::exists(work.file("outside.bin")));
    EXPECT_FALSE(std::filesystem::exists(scene + "/outside.bin"));

    // A picture that is not square is squeezed into the square pattern: said, with what to do.
    cv::Mat wide(64, 128, CV_8UC3, cv::Scalar::all(255));
    wide(cv::Rect(0, 0, 40, 64)).setTo(cv::Scalar::all(0));
    ASSERT_TRUE(cv::imwrite(models.file("wide.png"), wide));
    const PlayerRun squeezed =
        sceneTool(work, {"new", work.file("wide scene"), "--model", models.file("block.obj"), "--marker",
                         models.file("wide.png")});
    EXPECT_EQ(0, squeezed.status);
    EXPECT_NE(std::string::npos, squeezed.output.find("Warning: marker image " + models.file("wide.png") +
                                                      " is 128x64 pixels, not square"))
        << squeezed.output;

    // What cannot be made is refused before anything is written or copied: a model larger than a
    // scene's model may be is a sparse file (no disk is spent).
    std::filesystem::resize_file(models.write("huge.obj", ""), 600ull * 1024 * 1024);
    const std::string block = models.file("block.obj");
    const std::pair<std::vector<std::string>, const char*> refusals[] = {
        {{"--model", models.file("absent.obj")}, "is not a readable file"},
        {{"--model", block, "--marker", models.file("left.png"), "--model", block},
         "2 models but 1 marker images"},
        {{"--model", block, "--size", "5"}, "at least 10"},
        {{"--model", block, "--up", "x"}, "--up is y or z"},
        {{"--model", block, "--model", block, "--up", "y", "--up", "z", "--up", "y"},
         "2 models but 3 --up axes"},
        {{"--model", block, "--size", "300"}, "does not fit on an A4 page"},
        {{"--model", block, "--marker", models.file("block.mtl")}, "cannot read marker image"},
        {{"--model", models.file("huge.obj")}, "is 600 MiB, more than the 512 MiB"},
    };
    int index = 0;
    for (const auto& [options, reason] : refusals)
    {
        std::vector<std::string> arguments = {"new", work.file("refused" + std::to_string(index++))};
        arguments.insert(arguments.end(), options.begin(), options.end());
        SCOPED_TRACE(reason);
        expectRefused(sceneTool(work, arguments), reason);
        EXPECT_FALSE(std::filesystem::exists(arguments[1]));
    }
    // A folder holding anything is left as it is.
    work.write("occupied/keep.txt", "the user's own");
    expectRefused(sceneTool(work, {"new", work.file("occupied"), "--model", block}),
                  "is not empty: choose a new or empty folder");
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(work.file("occupied")),
                               std::filesystem::directory_iterator()));
}

namespace
{

// A scene made by "novaro-scene new" in work/made (whose generated patterns the finished scene's
// are compared with), and beside it the folder 'name' of an exporter's scene with its patterns
// folder and a logo picture; the exporter's folder, or empty when "new" failed.
std::string sceneBesideANewOne(const TemporaryFolder& work, const std::string& name)
{
    TemporaryFolder models;
    writeBlockObj(models);
    if (sceneTool(work, {"new", work.file("made"), "--model", models.file("block.obj")}).status != 0)
        return std::string();
    cv::Mat picture(64, 64, CV_8UC3, cv::Scalar::all(255));
    picture(cv::Rect(0, 0, 32, 20)).setTo(cv::Scalar::all(0));
    const std::string scene = work.file(name);
    std::filesystem::create_directories(scene + "/patterns");
    return cv::imwrite(scene + "/logo.png", picture) ? scene : std::string();
}

// What "finish" made of the scene beside the new one: marker 1's pattern the one "new" generated
// for its first marker, marker 2's from the logo, and the sheet.
void expectGeneratedAndPicturePatterns(const TemporaryFolder& work, const std::string& scene)
{
    EXPECT_EQ(patternOf(scene + "/patterns/marker_1.patt"),
              patternOf(work.file("made/patterns/marker_1.patt")));
    EXPECT_EQ(patternOf(scene + "/patterns/marker_2.patt"), patternOf(cv::imread(scene + "/logo.png")));
    EXPECT_TRUE(std::filesystem::is_regular_file(scene + "/markers.pdf"));
}

} // namespace

// An exporter's scene completed by "novaro-scene finish": a generated pattern follows the marker's
// ID (marker 1 gets the pattern "novaro-scene new" gives its first marker, whatever other markers
// the scene has), a pattern is made from the picture an entry names, a pattern file already there
// is kept, the missing camera is written at its format's size and the sheet holds the squares.
TEST(NewSceneEndToEnd, FinishCompletesAnExportedScene)
{
    TemporaryFolder work;
    const std::string scene = sceneBesideANewOne(work, "exported");
    ASSERT_FALSE(scene.empty());
    std::filesystem::copy_file(work.file("made/patterns/marker_1.patt"), scene + "/patterns/kept.patt");
    std::ofstream(scene + "/markers.xml")
        << "<markers patterns_file=\"patterns.dat\">\n"
           "  <marker name=\"late\" id=\"5\" path=\"patterns/marker_5.patt\" size=\"60\"/>\n"
           "  <marker name=\"first\" id=\"1\" path=\"patterns/marker_1.patt\" size=\"80\"/>\n"
           "  <marker name=\"logo\" id=\"2\" path=\"patterns/marker_2.patt\" image=\"logo.png\"/>\n"
           "  <marker name=\"kept\" id=\"3\" path=\"patterns/kept.patt\"/>\n"
           "  <marker name=\"poster\" id=\"4\" type=\"image\" path=\"logo.png\" size=\"150\"/>\n"
           "</markers>\n";
    std::ofstream(scene + "/video.xml")
        << "<video><formats><format name=\"wide\" width=\"800\" height=\"450\"/>"
           "</formats><cameras><camera name=\"c\" format=\"wide\" path=\"cam.dat\"/>"
           "</cameras></video>\n";
    const PlayerRun finished = sceneTool(work, {"finish", scene});
    ASSERT_EQ(finished.status, 0) << finished.output;
    EXPECT_NE(finished.output.find("150 mm wide: it is marker 4"), std::string::npos) << finished.output;

    expectGeneratedAndPicturePatterns(work, scene);
    ASSERT_TRUE(std::filesystem::is_regular_file(scene + "/patterns/marker_5.patt"));
    EXPECT_EQ(readFile(scene + "/patterns/kept.patt"), readFile(work.file("made/patterns/marker_1.patt")));
    EXPECT_FALSE(std::filesystem::exists(scene + "/patterns/logo.patt"));
    osgART::CameraParameters camera;
    ASSERT_TRUE(camera.load(scene + "/cam.dat"));
    EXPECT_EQ(osg::Vec2i(camera.width(), camera.height()), osg::Vec2i(800, 450));

    // Generated patterns go up to ID 1000.
    std::ofstream(scene + "/markers.xml")
        << "<markers patterns_file=\"patterns.dat\">\n"
           "  <marker id=\"1001\" path=\"patterns/far.patt\"/>\n</markers>\n";
    expectRefused(sceneTool(work, {"finish", scene}), "IDs 1 to 1000");
}

// A board an exporter wrote: its squares' patterns are made as square markers' are (the square with
// ID 1 gets marker 1's generated pattern; one from its picture), the sheet has a line per square
// whose places are the board file's (y up the board, down the page), and a square the sheet cannot
// print flat is refused by the board's name.
TEST(NewSceneEndToEnd, FinishPrintsABoardWithItsSquares)
{
    TemporaryFolder work;
    const std::string scene = sceneBesideANewOne(work, "board");
    ASSERT_FALSE(scene.empty());
    std::ofstream(scene + "/markers.xml")
        << "<markers patterns_file=\"patterns.dat\">\n"
           "  <marker name=\"table\" id=\"4\" type=\"multi\" path=\"patterns/table.dat\" size=\"100\">\n"
           "    <submarkers><submarker tag=\"left\" id=\"1\" path=\"patterns/marker_1.patt\" size=\"40\"/>\n"
           "    <submarker tag=\"right\" id=\"2\" path=\"patterns/marker_2.patt\" size=\"30\" "
           "image=\"logo.png\"/></submarkers>\n  </marker>\n</markers>\n";
    std::ofstream(scene + "/video.xml")
        << "<video><formats><format name=\"vga\" width=\"640\" height=\"480\"/>"
           "</formats><cameras><camera name=\"c\" format=\"vga\" path=\"cam.dat\"/></cameras></video>\n";
    const auto writeBoard = [&](const std::string& rightRows)
    {
        std::ofstream(scene + "/patterns/table.dat")
            << "2\nmarker_1.patt\n40\n1 0 0 -30\n0 1 0 10\n0 0 1 0\nmarker_2.patt\n30\n"
            << rightRows;
    };
    writeBoard("0 -1 0 35\n1 0 0 -20\n0 0 1 0\n");
    const PlayerRun finished = sceneTool(work, {"finish", scene});
    ASSERT_EQ(finished.status, 0) << finished.output;

    expectGeneratedAndPicturePatterns(work, scene);
    std::map<std::string, std::array<double, 3>> places;
    const std::regex line(
        R"(table \(4\), square (\w+) \(\d\): page 1, ([\d.]+) mm from the left, ([\d.]+) mm from )"
        R"(the top, ([\d.]+) mm wide)");
    for (std::sregex_iterator found(finished.output.begin(), finished.output.end(), line), end; found != end;
         ++found)
        places[(*found)[1]] = {std::stod((*found)[2]), std::stod((*found)[3]), std::stod((*found)[4])};
    ASSERT_EQ(places.size(), 2u) << finished.output;
    const auto centre = [&](const std::string& name, int axis)
    { return places[name][size_t(axis)] + places[name][2] / 2.0; };
    EXPECT_NEAR(centre("right", 0) - centre("left", 0), 65.0, 1e-3);
    EXPECT_NEAR(centre("right", 1) - centre("left", 1), 30.0, 1e-3);
    EXPECT_NEAR(places["right"][2], 30.0, 1e-9);

    writeBoard("0.7071 -0.7071 0 35\n0.7071 0.7071 0 -20\n0 0 1 0\n");
    expectRefused(sceneTool(work, {"finish", scene}),
                  "cannot print board table (4): square 2 does not lie flat");
}

// A new user's first scene: a four-legged animal made in Blender at its real size (2 m long,
// skinned to an armature whose neck and tail swing), exported as binary glTF, and an OBJ of a
// sixth of a millimetre, through "new" with its defaults. Played on the filmed sheet, both stand
// on their markers at the marker's size, and the animal moves from its first detection.
TEST(NewSceneEndToEnd, BlenderAnimalAndTinyObjPlayAnimatedOnTheirMarkers)
{
    NOVARO_REQUIRE_DISPLAY();
    if (std::system("command -v blender > /dev/null") != 0)
        GTEST_SKIP() << "blender is not installed: it makes the animal";
    TemporaryFolder models, work;
    const std::string animal = models.file("animal.glb");
    const std::string script = std::string(NOVARO_SOURCE_DIR) + "/tests/blender/make_animal.py";
    ASSERT_EQ(0, std::system(("blender -b --factory-startup --python " + quote(script) + " -- " +
                              quote(animal) + " > " + quote(models.file("blender.log")) + " 2>&1")
                                 .c_str()))
        << readFile(models.file("blender.log"));
    const float speck = 0.16f / kBlockHeight;
    writeBlockObj(models, speck);
    const std::string scene = work.file("first scene");
    const PlayerRun made = sceneTool(work, {"new", scene, "--model", animal, "--model",
                                            models.file("block.obj"), "--generated", "--size", "80"});
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_TRUE(std::filesystem::is_regular_file(scene + "/events/animal_events.xml")) << made.output;

    FilmedSheet filmed;
    filmPrintedSheet(scene, work, filmed);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const PlayerRun run = runPlayer(RUN_DIRECTORY,
                                    {scene, "-video_file", work.file("frame.png"), "-frame_time", "0.04",
                                     "-max_frames", "30", "-screenshot", work.file("shot.png"),
                                     "-screenshot_frame", "12", "-screenshot_frame", "24"},
                                    {"ALSOFT_DRIVERS=null"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(0, countLinesHolding(run.output, "camera is inside")) << run.output;
    osg::ref_ptr<osg::Image> early = osgDB::readImageFile(work.file("shot-12.png"));
    osg::ref_ptr<osg::Image> late = osgDB::readImageFile(work.file("shot-24.png"));
    ASSERT_TRUE(early.valid() && late.valid());

    // Fitted: 2 m long, 0.5 m wide and 1.35 m tall at rest, its length made the marker's 80 mm.
    const double fit = kMarkerSize / 2000.0;
    const Box animalBox(-1000.0 * fit, -250.0 * fit, 0.0, 1000.0 * fit, 250.0 * fit, 1350.0 * fit);
    const double b = kBlockSide / 2.0 * speck * (kMarkerSize / (kBlockHeight * speck));
    const Box blockBox(-b, -b, 0.0, b, b, kMarkerSize);
    const auto isAnimal = [](const osg::Vec3i& p) { return p.x() > 120 && p.x() > p.y() + 50 && p.z() < 90; };
    const cv::Rect2d expectedAnimal = projectedBox(filmed, 0, animalBox);
    const cv::Rect2d seenAnimal = measuredBox(*early, expectedAnimal, isAnimal);
    const cv::Rect2d expectedBlock = projectedBox(filmed, 1, blockBox);
    const cv::Rect2d seenBlock = measuredBox(*early, expectedBlock, isGreen);
    // On its marker and at its size: the swinging neck and tail widen it, so 25 % and 10 px.
    ASSERT_GT(seenAnimal.area(), 0.0) << "animal not seen";
    EXPECT_NEAR(seenAnimal.width, expectedAnimal.width, 0.25 * expectedAnimal.width);
    EXPECT_NEAR(seenAnimal.height, expectedAnimal.height, 0.25 * expectedAnimal.height);
    EXPECT_NEAR(seenAnimal.x + seenAnimal.width / 2, expectedAnimal.x + expectedAnimal.width / 2, 10.0);
    expectSameBox(seenBlock, expectedBlock);

    // Animated: the animal's pixels differ between the two moments, around where it stands.
    const cv::Rect2d around(expectedAnimal.x - expectedAnimal.width / 2,
                            expectedAnimal.y - expectedAnimal.height / 2, 2 * expectedAnimal.width,
                            2 * expectedAnimal.height);
    const double sx = early->s() / 640.0, sy = early->t() / 480.0;
    int changed = 0;
    for (int y = int(around.y * sy); y < int(around.br().y * sy); ++y)
        for (int x = int(around.x * sx); x < int(around.br().x * sx); ++x)
            changed += isAnimal(pixel(*early, x, y)) != isAnimal(pixel(*late, x, y)) ? 1 : 0;
    EXPECT_GT(changed, 30);
}
