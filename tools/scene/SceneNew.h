#pragma once

// "novaro-scene new": a complete scene folder for a set of models, each on a marker of its own,
// that plays with "novaro DIR": the seven settings files and the metadata file, the models copied
// under models/, the patterns under patterns/ (from the user's images or generated), a camera file
// and markers.pdf, the markers at their printed size.

#include <cstdint>
#include <string>
#include <vector>

namespace Novaro
{

struct NewSceneRequest
{
    std::string directory;
    std::vector<std::string> models;
    /// Pattern images (the inside of each marker, any size), one per model; empty: generated.
    std::vector<std::string> markerImages;
    /// Width of each marker's black square, millimetres.
    double size = 80.0;
    /// A camera file to copy; empty: a generic 640x480 camera is written.
    std::string camera;
    /// How big each model stands on its marker: FIT (the default) scales it so that its largest
    /// side is the marker's width; REAL_SIZE keeps its own units (millimetres on the marker, glTF
    /// metres turned to millimetres); SCALE multiplies them by 'scale'.
    enum class Sizing
    {
        FIT,
        REAL_SIZE,
        SCALE
    };
    Sizing sizing = Sizing::FIT;
    double scale = 1.0;
    /// The axis that is up in the models as made, 'y' or 'z': one for every model or one per model
    /// in order; empty: each format's own convention (y for OBJ, FBX and glTF, z for the others).
    /// A model whose up differs from what its reader takes is stood up by the object's rotation.
    std::vector<char> upAxes;
};

/// A model shown larger than this many times its marker's width, or smaller than its inverse, is
/// said with a warning (a real-size animal puts the camera inside it; a model in metres read as
/// millimetres is a speck).
const double kSizeWarningFactor = 20.0;

/// Markers printed smaller than this (mm) are hard to track at arm's length.
const double kSmallestMarkerSize = 10.0;
/// Largest model file a new scene copies, bytes (512 MiB, the bound an archive may unpack to): a
/// larger one is refused before anything is written, instead of copied whole.
const uintmax_t kLargestModelBytes = 512ull * 1024 * 1024;

/// Makes the scene; prints what it wrote, or why it cannot, on the console. Exit status: 0 done,
/// 1 nothing usable was written.
int makeNewScene(const NewSceneRequest& request);

} // namespace Novaro
