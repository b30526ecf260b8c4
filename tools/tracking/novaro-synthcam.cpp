// Synthetic camera: renders printed markers at known poses through a camera model (with lens
// distortion) onto cluttered backgrounds with noise, blur and uneven light, and writes the frames
// (movie or image sequence) plus one JSON line of ground truth per frame.
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <osg/Quat>
#include <osgDB/FileNameUtils>

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>

using namespace Novaro;

namespace {

void usage() {
    std::cerr << "usage: novaro-synthcam --output FILE (movie, or name%04d.png) [--truth FILE.jsonl]\n"
                 "  [--camera FILE | --width W --height H [--no-distortion]] [--write-camera FILE]\n"
                 "  [--pattern FILE.patt ...] [--generated N] [--write-patterns DIR] [--size S]\n"
                 "  [--frames N] [--markers N] [--min-width PX] [--max-width PX] [--max-tilt DEG]\n"
                 "  [--motion] [--fps F] [--noise SIGMA] [--blur SIGMA] [--light SHARE] [--no-clutter] [--seed N]"
              << std::endl;
}

// Pose between two poses: linear in translation, spherical in rotation.
osg::Matrixd blend(const osg::Matrixd& from, const osg::Matrixd& to, double t) {
    osg::Quat rotation;
    rotation.slerp(t, from.getRotate(), to.getRotate());
    osg::Matrixd result;
    result.makeRotate(rotation);
    result.setTrans(from.getTrans() * (1.0 - t) + to.getTrans() * t);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    ToolArguments arguments(argc, argv, {"no-distortion", "no-clutter", "motion", "help"});
    if (!arguments.error().empty() || arguments.has("help") || !arguments.has("output")) {
        if (!arguments.error().empty()) std::cerr << arguments.error() << std::endl;
        usage();
        return arguments.has("help") ? 0 : 1;
    }
    osgART::CameraParameters camera;
    if (arguments.has("camera")) {
        std::string error;
        if (!camera.load(arguments.get("camera"), &error)) {
            std::cerr << error << std::endl;
            return 1;
        }
        if (arguments.has("width") && arguments.has("height"))
            camera = camera.scaled(int(arguments.getNumber("width", 640)), int(arguments.getNumber("height", 480)));
    } else {
        const int width = int(arguments.getNumber("width", 640));
        const int height = int(arguments.getNumber("height", 480));
        if (width < 16 || height < 16 || width > 8192 || height > 8192) {
            std::cerr << "frame size out of range" << std::endl;
            return 1;
        }
        camera = makeDefaultCamera(width, height, !arguments.has("no-distortion"));
    }
    if (arguments.has("write-camera") && !camera.saveBinary(arguments.get("write-camera"))) {
        std::cerr << "cannot write " << arguments.get("write-camera") << std::endl;
        return 1;
    }

    const unsigned seed = unsigned(arguments.getNumber("seed", 1));
    std::vector<osgART::Pattern> patterns;
    std::vector<std::string> patternNames;
    for (const std::string& file : arguments.getAll("pattern")) {
        osgART::Pattern pattern;
        std::string error;
        if (!pattern.load(file, &error)) {
            std::cerr << error << std::endl;
            return 1;
        }
        patterns.push_back(pattern);
        patternNames.push_back(file);
    }
    if (patterns.empty()) {
        const size_t count = size_t(std::max(1.0, arguments.getNumber("generated", 4)));
        patterns = makeDistinctPatterns(count, seed);
        const std::string folder = arguments.get("write-patterns", "");
        for (size_t i = 0; i < patterns.size(); ++i) {
            std::string name = "marker" + std::to_string(i) + ".patt";
            if (!folder.empty()) {
                name = osgDB::concatPaths(folder, name);
                if (!patterns[i].save(name)) {
                    std::cerr << "cannot write " << name << std::endl;
                    return 1;
                }
            }
            patternNames.push_back(name);
        }
    }
    const double size = arguments.getNumber("size", 80.0);
    std::vector<PrintedMarker> printed;
    for (const osgART::Pattern& pattern : patterns) {
        PrintedMarker marker;
        marker.texture = makeMarkerImage(pattern, 16, 0.25);
        marker.size = size;
        printed.push_back(marker);
    }

    ImagingSettings imaging;
    imaging.noiseSigma = arguments.getNumber("noise", imaging.noiseSigma);
    imaging.blurSigma = arguments.getNumber("blur", imaging.blurSigma);
    imaging.lightVariation = arguments.getNumber("light", imaging.lightVariation);
    imaging.clutter = !arguments.has("no-clutter");
    imaging.supersampling = camera.width() > 1000 ? 2 : 3;
    SyntheticCamera synthetic(camera, imaging);

    const int frames = int(arguments.getNumber("frames", 30));
    const size_t perFrame = size_t(arguments.getNumber("markers", double(printed.size())));
    const double minWidth = arguments.getNumber("min-width", 40);
    const double maxWidth = arguments.getNumber("max-width", 0.35 * camera.height());
    const double maxTilt = arguments.getNumber("max-tilt", 60);
    const double fps = arguments.getNumber("fps", 30);
    const bool motion = arguments.has("motion");
    const int keyframeSpacing = 45;

    const std::string output = arguments.get("output");
    const bool sequence = output.find('%') != std::string::npos;
    cv::VideoWriter writer;
    if (!sequence) {
        const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(output));
        const int codec = extension == "avi" ? cv::VideoWriter::fourcc('M', 'J', 'P', 'G')
                                             : cv::VideoWriter::fourcc('m', 'p', '4', 'v');
        if (!writer.open(output, cv::CAP_FFMPEG, codec, fps, cv::Size(camera.width(), camera.height()))) {
            std::cerr << "cannot write movie " << output << std::endl;
            return 1;
        }
        writer.set(cv::VIDEOWRITER_PROP_QUALITY, 95);
    }
    std::ofstream truth;
    if (arguments.has("truth")) {
        truth.open(arguments.get("truth"), std::ios::trunc);
        if (!truth) {
            std::cerr << "cannot write " << arguments.get("truth") << std::endl;
            return 1;
        }
    }

    std::mt19937 random(seed);
    std::vector<PlacedMarker> previousKey, nextKey;
    for (int frame = 0; frame < frames; ++frame) {
        std::vector<PlacedMarker> placed;
        if (motion) {
            // Markers glide between random key poses; key poses keep the same markers in the same order.
            if (frame % keyframeSpacing == 0) {
                previousKey = frame == 0 ? synthetic.placeMarkers(printed, perFrame, minWidth, maxWidth, maxTilt, random) : nextKey;
                nextKey.clear();
                for (int attempt = 0; attempt < 50 && nextKey.size() != previousKey.size(); ++attempt)
                    nextKey = synthetic.placeMarkers(printed, previousKey.size(), minWidth, maxWidth, maxTilt, random);
                if (nextKey.size() != previousKey.size()) nextKey = previousKey;
            }
            const double t = double(frame % keyframeSpacing) / keyframeSpacing;
            const double eased = t * t * (3.0 - 2.0 * t);
            for (size_t i = 0; i < previousKey.size(); ++i) {
                PlacedMarker marker = previousKey[i];
                marker.pose = blend(previousKey[i].pose, nextKey[i].pose, eased);
                synthetic.describe(marker, printed[size_t(marker.marker)].size);
                placed.push_back(marker);
            }
        } else {
            placed = synthetic.placeMarkers(printed, perFrame, minWidth, maxWidth, maxTilt, random);
        }
        cv::Mat image;
        synthetic.render(printed, placed, random, image);
        if (sequence) {
            char name[4096];
            std::snprintf(name, sizeof(name), output.c_str(), frame);
            if (!cv::imwrite(name, image)) {
                std::cerr << "cannot write " << name << std::endl;
                return 1;
            }
        } else {
            writer.write(image);
        }
        if (truth.is_open()) {
            truth << std::setprecision(9) << "{\"frame\":" << frame << ",\"markers\":[";
            for (size_t i = 0; i < placed.size(); ++i) {
                const PlacedMarker& marker = placed[i];
                truth << (i ? "," : "") << "{\"index\":" << marker.marker << ",\"pattern\":\""
                      << patternNames[size_t(marker.marker)] << "\",\"size\":" << size
                      << ",\"pose\":" << matrixToJson(marker.pose) << ",\"corners\":[";
                for (int k = 0; k < 4; ++k)
                    truth << (k ? "," : "") << "[" << marker.corners[size_t(k)].x() << "," << marker.corners[size_t(k)].y() << "]";
                truth << "],\"tilt\":" << marker.tiltDegrees << ",\"shortest_side\":" << marker.shortestSide << "}";
            }
            truth << "]}\n";
        }
    }
    return 0;
}
