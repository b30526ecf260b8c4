// novaro-bench-movie: how fast the player's movie decoder turns a movie into pictures, on one core.
//
//   novaro-bench-movie [MOVIE]
//
// Without a movie it writes a 10-second 1280x720 H.264 clip at 30 frames per second (moving
// gradients and noise, so the decoder has real work) into the system's temporary folder first.
// Prints the frames decoded, the seconds taken, frames per second and the multiple of real time,
// and the heap allocations per frame once decoding has settled (after the first second), counted
// by this program's own malloc, which stands in for the C library's in every library it loads.
#include "MovieDecoder.h"
#include "MovieWriter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

// Every heap allocation of the process goes through here (operator new ends in malloc too),
// except in sanitizer builds, whose runtime owns these functions: there the count stays 0.
std::atomic<unsigned long> allocations{0};

#if defined(__SANITIZE_ADDRESS__)
#define NOVARO_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NOVARO_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef NOVARO_COUNT_ALLOCATIONS
#define NOVARO_COUNT_ALLOCATIONS 1
#endif

#if NOVARO_COUNT_ALLOCATIONS
extern "C"
{
    void* __libc_malloc(size_t size);
    void* __libc_calloc(size_t count, size_t size);
    void* __libc_realloc(void* pointer, size_t size);
    void* __libc_memalign(size_t alignment, size_t size);

    void* malloc(size_t size)
    {
        allocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_malloc(size);
    }
    void* calloc(size_t count, size_t size)
    {
        allocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_calloc(count, size);
    }
    void* realloc(void* pointer, size_t size)
    {
        allocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_realloc(pointer, size);
    }
    // FFmpeg's av_malloc allocates aligned memory.
    int posix_memalign(void** pointer, size_t alignment, size_t size)
    {
        allocations.fetch_add(1, std::memory_order_relaxed);
        *pointer = __libc_memalign(alignment, size);
        return *pointer || size == 0 ? 0 : ENOMEM;
    }
    void* aligned_alloc(size_t alignment, size_t size)
    {
        allocations.fetch_add(1, std::memory_order_relaxed);
        return __libc_memalign(alignment, size);
    }
}
#endif

namespace
{

bool writeBenchmarkClip(const std::string& path)
{
    NovaroTest::MovieDescription movie;
    movie.frames = 300;
    movie.width = 1280;
    movie.height = 720;
    movie.framesPerSecond = 30;
    movie.encoder = "libx264";
    std::mt19937 random(7);
    movie.paint =
        [&random](int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red, int chromaStride)
    {
        for (int row = 0; row < 720; ++row)
            for (int column = 0; column < 1280; ++column)
                luma[row * lumaStride + column] =
                    static_cast<uint8_t>(((column + 4 * index) ^ (row + 2 * index)) + (random() & 15));
        for (int row = 0; row < 360; ++row)
            for (int column = 0; column < 640; ++column)
            {
                blue[row * chromaStride + column] = static_cast<uint8_t>(128 + ((column + index) & 63) - 32);
                red[row * chromaStride + column] = static_cast<uint8_t>(128 + ((row - index) & 63) - 32);
            }
    };
    return NovaroTest::writeMovie(path, movie);
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : std::string();
    if (path.empty())
    {
        path = (std::filesystem::temp_directory_path() / "novaro-bench-1280x720.mp4").string();
        std::printf("Writing %s ...\n", path.c_str());
        if (!writeBenchmarkClip(path))
        {
            std::fprintf(stderr, "Cannot write the benchmark clip %s\n", path.c_str());
            return 1;
        }
    }
    Novaro::MovieDecoder decoder;
    std::string error;
    if (!decoder.open(path, error))
    {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    std::vector<uint8_t> picture(decoder.pictureSize());
    double seconds = 0.0;
    int frames = 0;
    const auto start = std::chrono::steady_clock::now();
    // Frames decoded in the first second set up the decoder's pools; allocations count after that.
    const int settledFrame = static_cast<int>(decoder.frameRate());
    unsigned long settledAllocations = 0;
    while (decoder.next(picture.data(), seconds) == Novaro::MovieDecoder::Result::Picture)
    {
        if (++frames == settledFrame)
            settledAllocations = allocations.load();
    }
    const unsigned long steadyAllocations = allocations.load() - settledAllocations;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // From the pictures' own times: a movie that leaves frames out (as AVI's empty chunks do) lasts
    // longer than its pictures at the nominal rate.
    const double movieSeconds = frames > 0 ? seconds + 1.0 / decoder.frameRate() : 0.0;
    std::printf("movie: %s (%dx%d, %.2f fps)\n", path.c_str(), decoder.width(), decoder.height(),
                decoder.frameRate());
    std::printf("decoded %d frames (%.2f s of movie) in %.3f s: %.1f frames/s, %.2f x real time, "
                "%u damaged packets\n",
                frames, movieSeconds, elapsed, frames / elapsed, movieSeconds / elapsed,
                decoder.damagedPackets());
    std::printf("heap allocations in the first second: %lu\n", settledAllocations);
    if (frames > settledFrame)
        std::printf("heap allocations after the first second: %lu in %d frames (%.2f per frame)\n",
                    steadyAllocations, frames - settledFrame,
                    static_cast<double>(steadyAllocations) / (frames - settledFrame));
    return 0;
}
