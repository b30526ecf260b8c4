// The square-marker detector on real photographs with printed markers laid in, at camera noise
// levels from ISO 100 to 3200: markers found, false detections and time, per layout and noise; and
// the record of which markers each frame must give, written or checked.
#include "PhotoCorpus.h"
#include "ToolSupport.h"

#include <osgART/CameraParameters.h>
#include <osgART/DarkRegions.h>
#include <osgART/SquareMarkerDetector.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

using namespace Novaro;

namespace
{

struct Tally
{
    int markers = 0, found = 0, falses = 0, frames = 0;
    double seconds = 0.0;
};

std::string idList(const std::vector<int>& ids)
{
    std::ostringstream text;
    for (int id : ids)
        text << " " << id;
    return text.str();
}

// For a marker the detector missed: the dark regions of its binary image around the marker's
// border, with the statistics the candidate search judges them by.
void explainMiss(const PhotoFrame& frame, const HardCaseMarker& marker, const cv::Mat& binary)
{
    std::vector<cv::Point2f> corners;
    for (const cv::Point2d& corner : marker.corners)
        corners.emplace_back(float(corner.x), float(corner.y));
    const cv::Rect outer = cv::boundingRect(corners);
    osgART::DarkRegions regions;
    regions.find(binary);
    std::cout << "MISSED " << frame.name << " marker " << marker.id << " side " << std::setprecision(0)
              << std::fixed << marker.side << " px, box " << outer.width << "x" << outer.height << "\n";
    for (const osgART::DarkRegions::Region& region : regions.regions())
    {
        const cv::Rect overlap = region.bounds & outer;
        if (overlap.area() < 0.5 * outer.area() || region.bounds.area() > 2.5 * outer.area())
            continue;
        const int shorter = std::min(region.bounds.width, region.bounds.height);
        std::cout << "  region " << region.bounds.width << "x" << region.bounds.height << " pixels "
                  << region.pixels << " holes " << region.holes << " runs " << region.runs << " spans "
                  << region.spans << " fill " << std::setprecision(2)
                  << double(region.pixels) / region.bounds.area() << " mean run/side "
                  << double(region.pixels) / std::max(1, region.spans) / std::max(1, shorter) << "\n";
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder = PhotoCorpus::kDefaultFolder, write, check, misses;
    unsigned seeds = 5;
    bool explain = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--photos" && hasValue)
            folder = argv[++i];
        else if (option == "--seeds" && hasValue)
            seeds = unsigned(std::max(1, std::atoi(argv[++i])));
        else if (option == "--write" && hasValue)
            write = argv[++i];
        else if (option == "--check" && hasValue)
            check = argv[++i];
        else if (option == "--misses" && hasValue)
            misses = argv[++i];
        else if (option == "--explain")
            explain = true;
        else
        {
            std::cerr << "usage: novaro-photo-corpus [--photos DIR] [--seeds N] [--write FILE | --check FILE]"
                         " [--misses DIR] [--explain]\n";
            return option == "--help" ? 0 : 2;
        }
    }
    PhotoCorpus corpus;
    std::string error;
    if (!corpus.load(folder, error))
    {
        std::cerr << error << std::endl;
        return 1;
    }
    const std::map<std::string, std::vector<int>> required =
        check.empty() ? std::map<std::string, std::vector<int>>() : readRequiredMarkers(check);
    std::ofstream record;
    if (!write.empty())
    {
        record.open(write);
        record
            << "# Markers each photo-corpus frame must give (frame: ids), written by novaro-photo-corpus\n";
    }
    std::map<std::string, Tally> tallies;
    int lost = 0;
    for (const PhotoLayout& layout : photoLayouts())
        for (const PhotoNoise& noise : photoNoiseLevels())
            for (unsigned seed = 1; seed <= seeds; ++seed)
                for (size_t photo = 0; photo < corpus.photoCount(); ++photo)
                {
                    const PhotoFrame frame = corpus.frame(photo, layout, noise, seed);
                    osgART::SquareMarkerDetector detector;
                    setUpDetector(corpus, frame, detector);
                    std::vector<osgART::DetectedSquare> detections;
                    const double start = threadCpuSeconds();
                    detector.detect(frame.grey, 1, detections);
                    const double seconds = threadCpuSeconds() - start;
                    const std::vector<int> found = foundMarkers(frame, detections);
                    Tally& tally = tallies[layout.name + " " + noise.name];
                    tally.markers += int(frame.markers.size());
                    tally.found += int(found.size());
                    const int falses = falseDetections(frame, detections);
                    tally.falses += falses;
                    if (explain && falses > 0)
                        for (const osgART::DetectedSquare& detection : detections)
                            std::cout << "DETECTED " << frame.name << " pattern " << detection.pattern
                                      << " confidence " << detection.confidence << " at "
                                      << detection.observed[0].x() << "," << detection.observed[0].y()
                                      << "\n";
                    tally.frames += 1;
                    tally.seconds += seconds;
                    if (record.is_open())
                        record << frame.name << ":" << idList(found) << "\n";
                    const auto wanted = required.find(frame.name);
                    if (wanted != required.end())
                        for (int id : wanted->second)
                            if (std::find(found.begin(), found.end(), id) == found.end())
                            {
                                std::cout << "LOST " << frame.name << ": marker " << id << "\n";
                                ++lost;
                            }
                    if (explain)
                        for (const HardCaseMarker& marker : frame.markers)
                            if (std::find(found.begin(), found.end(), marker.id) == found.end())
                                explainMiss(frame, marker, detector.binaryImage());
                    if (!misses.empty() && found.size() < frame.markers.size())
                    {
                        std::string name = frame.name;
                        std::replace(name.begin(), name.end(), '/', '_');
                        cv::imwrite(misses + "/" + name + ".png", frame.grey);
                    }
                }
    std::cout << std::left << std::setw(18) << "layout noise" << std::right << std::setw(10) << "found"
              << std::setw(8) << "rate" << std::setw(8) << "false" << std::setw(10) << "ms/frame"
              << "\n";
    for (const auto& [name, tally] : tallies)
        std::cout << std::left << std::setw(18) << name << std::right << std::setw(6) << tally.found << "/"
                  << std::setw(3) << tally.markers << std::setw(7) << std::fixed << std::setprecision(1)
                  << 100.0 * tally.found / std::max(1, tally.markers) << "%" << std::setw(8) << tally.falses
                  << std::setw(10) << std::setprecision(2)
                  << 1000.0 * tally.seconds / std::max(1, tally.frames) << "\n";
    if (!check.empty())
        std::cout << (lost == 0 ? "every required marker found"
                                : std::to_string(lost) + " required markers lost")
                  << " (" << required.size() << " frames recorded)\n";
    return lost == 0 ? 0 : 1;
}
