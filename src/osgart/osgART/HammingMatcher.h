#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace osgART
{

/// The nearest and second nearest of a set of descriptors to one query, by Hamming distance.
struct NearestTwo
{
    int best = -1; ///< index of the nearest, -1 when the set is empty
    int bestDistance = 257;
    int secondDistance = 257;
};

/// Brute-force matching of 32-byte binary descriptors (ORB's) against a fixed set.
///
/// The set is packed once, eight descriptors to a block with their same words side by side, so
/// that on processors with AVX-512's 64-bit population count eight distances take four such
/// counts; elsewhere one descriptor at a time with the scalar population count. Both give the same
/// result as OpenCV's brute-force matcher: ties go to the lower index.
class HammingMatcher
{
public:
    /// descriptors: one row of 32 bytes (CV_8U) per descriptor.
    void setDescriptors(const cv::Mat& descriptors);
    size_t size() const { return _count; }
    /// For each row of queries (32 bytes each), its two nearest in the set.
    void findNearestTwo(const cv::Mat& queries, std::vector<NearestTwo>& nearest) const;

private:
    size_t _count = 0;
    /// Blocks of 8 descriptors: word w of descriptor k of block b at [b * 32 + w * 8 + k]; the last
    /// block is padded with zeros, which the search leaves out.
    std::vector<uint64_t> _packed;
};

} // namespace osgART
