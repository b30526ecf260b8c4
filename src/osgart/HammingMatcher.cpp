#include "osgART/HammingMatcher.h"

#if defined(__x86_64__)
#define NOVARO_AVX512_MATCHER 1
#include <immintrin.h>
#endif

#include <cstring>

namespace osgART
{

namespace
{

const size_t kBlock = 8; // descriptors per block
const size_t kWords = 4; // 64-bit words per descriptor

inline void consider(NearestTwo& found, int index, int distance)
{
    if (distance >= found.secondDistance)
        return;
    if (distance < found.bestDistance)
    {
        found.secondDistance = found.bestDistance;
        found.bestDistance = distance;
        found.best = index;
    }
    else
        found.secondDistance = distance;
}

// The loader runs the resolver that picks a clone before ThreadSanitizer's runtime is up, and
// the resolver's instrumented entry would crash there: that build keeps the default clone only.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NOVARO_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(NOVARO_THREAD_SANITIZER)
#define NOVARO_POPCOUNT_CLONES
#else
#define NOVARO_POPCOUNT_CLONES __attribute__((target_clones("popcnt", "default")))
#endif

// One descriptor at a time, compiled for the popcount instruction where the processor has it
// (OpenCV's packaged build counts bits without it: some 16 ns a pair against about 2).
NOVARO_POPCOUNT_CLONES void scalarSearch(const uint64_t* packed, size_t count, const cv::Mat& queries,
                                         std::vector<NearestTwo>& nearest)
{
    for (int row = 0; row < queries.rows; ++row)
    {
        uint64_t query[kWords];
        std::memcpy(query, queries.ptr(row), sizeof(query));
        NearestTwo& found = nearest[size_t(row)];
        for (size_t index = 0; index < count; ++index)
        {
            const uint64_t* block = packed + (index / kBlock) * kBlock * kWords + index % kBlock;
            const int distance = __builtin_popcountll(query[0] ^ block[0]) +
                                 __builtin_popcountll(query[1] ^ block[kBlock]) +
                                 __builtin_popcountll(query[2] ^ block[2 * kBlock]) +
                                 __builtin_popcountll(query[3] ^ block[3 * kBlock]);
            consider(found, int(index), distance);
        }
    }
}

#ifdef NOVARO_AVX512_MATCHER
// Eight distances a step; only the lanes under the current second distance are looked at, which
// after the first blocks are few.
__attribute__((target("avx512f,avx512vpopcntdq"))) void
vectorSearch(const uint64_t* packed, size_t count, const cv::Mat& queries, std::vector<NearestTwo>& nearest)
{
    const size_t blocks = (count + kBlock - 1) / kBlock;
    const unsigned lastValid = count % kBlock ? (1u << (count % kBlock)) - 1u : 0xffu;
    for (int row = 0; row < queries.rows; ++row)
    {
        uint64_t query[kWords];
        std::memcpy(query, queries.ptr(row), sizeof(query));
        const __m512i q0 = _mm512_set1_epi64(static_cast<long long>(query[0])),
                      q1 = _mm512_set1_epi64(static_cast<long long>(query[1])),
                      q2 = _mm512_set1_epi64(static_cast<long long>(query[2])),
                      q3 = _mm512_set1_epi64(static_cast<long long>(query[3]));
        NearestTwo& found = nearest[size_t(row)];
        for (size_t b = 0; b < blocks; ++b)
        {
            const uint64_t* block = packed + b * kBlock * kWords;
            __m512i distance = _mm512_popcnt_epi64(_mm512_xor_si512(q0, _mm512_loadu_si512(block)));
            distance = _mm512_add_epi64(
                distance, _mm512_popcnt_epi64(_mm512_xor_si512(q1, _mm512_loadu_si512(block + kBlock))));
            distance = _mm512_add_epi64(
                distance, _mm512_popcnt_epi64(_mm512_xor_si512(q2, _mm512_loadu_si512(block + 2 * kBlock))));
            distance = _mm512_add_epi64(
                distance, _mm512_popcnt_epi64(_mm512_xor_si512(q3, _mm512_loadu_si512(block + 3 * kBlock))));
            unsigned closer = _mm512_cmplt_epu64_mask(distance, _mm512_set1_epi64(found.secondDistance));
            if (b + 1 == blocks)
                closer &= lastValid;
            if (!closer)
                continue;
            alignas(64) uint64_t distances[kBlock];
            _mm512_store_si512(distances, distance);
            for (; closer; closer &= closer - 1)
            {
                const unsigned lane = unsigned(__builtin_ctz(closer));
                consider(found, int(b * kBlock + lane), int(distances[lane]));
            }
        }
    }
}
#endif

bool hasVectorSearch()
{
#ifdef NOVARO_AVX512_MATCHER
    static const bool has = []
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq");
    }();
    return has;
#else
    return false;
#endif
}

} // namespace

void HammingMatcher::setDescriptors(const cv::Mat& descriptors)
{
    CV_Assert(descriptors.empty() || (descriptors.type() == CV_8UC1 && descriptors.cols == 32));
    _count = size_t(descriptors.rows);
    _packed.assign((_count + kBlock - 1) / kBlock * kBlock * kWords, 0);
    for (size_t index = 0; index < _count; ++index)
    {
        uint64_t words[kWords];
        std::memcpy(words, descriptors.ptr(int(index)), sizeof(words));
        uint64_t* block = &_packed[(index / kBlock) * kBlock * kWords + index % kBlock];
        for (size_t w = 0; w < kWords; ++w)
            block[w * kBlock] = words[w];
    }
}

void HammingMatcher::findNearestTwo(const cv::Mat& queries, std::vector<NearestTwo>& nearest) const
{
    CV_Assert(queries.empty() || (queries.type() == CV_8UC1 && queries.cols == 32));
    nearest.assign(size_t(queries.rows), NearestTwo());
    if (_count == 0)
        return;
#ifdef NOVARO_AVX512_MATCHER
    if (hasVectorSearch())
    {
        vectorSearch(_packed.data(), _count, queries, nearest);
        return;
    }
#endif
    scalarSearch(_packed.data(), _count, queries, nearest);
}

} // namespace osgART
