#pragma once

// Reading an OpenCV calibration file's text: the image size, the camera matrix and the distortion
// coefficients, nothing else. Both formats are read by hand or through TinyXML, never through
// OpenCV's FileStorage: its readers allocate matrices as large as a file claims, read past the end
// of some truncated texts and loop forever on others (an unclosed quote before a "---" line).
//
// Carried: XML as OpenCV writes it (with or without the declaration); YAML as OpenCV writes it:
// top-level "key: value" lines, matrices as indented blocks of rows, cols, dt and data, data as a
// bracketed list over one or more lines, comments, directives and document markers; other keys and
// their blocks are skipped. Not carried: JSON, YAML anchors, aliases and flow maps ("{ rows: 3 }"),
// and block scalars ("|", ">") whose lines start at the first column.

#include <string>
#include <vector>

namespace osgART
{

/// The values of an OpenCV calibration file that a camera needs.
struct Calibration
{
    int width = 0;
    int height = 0;
    std::vector<double> matrix;       ///< 3 x 3, row by row
    std::vector<double> coefficients; ///< empty when the file has none
};

/// Matrices of more rows or columns are refused before their values are read.
const int kMaximumCalibrationMatrixSide = 16;

/// Reads an OpenCV calibration text (XML when it starts with '<', YAML otherwise). False, with the
/// reason (and, for YAML, the line) in error, when a value it needs is missing or malformed.
bool readCalibrationText(const std::string& text, Calibration& calibration, std::string& error);

} // namespace osgART
