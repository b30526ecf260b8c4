#pragma once

#include <opencv2/core.hpp>

namespace Novaro
{

/// A printable picture made up from seed (BGR): a soft background under shapes and letters of
/// every size, like a poster; the same seed gives the same picture.
cv::Mat makePosterPicture(int width, int height, unsigned seed);

/// A picture of one small random tile repeated cells times across and down (BGR): features
/// aplenty, every one of them found again in every other cell.
cv::Mat makeRepetitivePicture(int side, int cells, unsigned seed);

} // namespace Novaro
