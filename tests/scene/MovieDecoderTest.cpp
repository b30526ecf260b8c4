// Movies that go wrong: files that are damaged or hold no pictures, and files cut shorter while
// they play. Whatever happens, the user is told once, at the level the player shows, which file
// and why (pictures of awkward sizes are in the movie corpus).

#include "MovieDecoder.h"
#include "../common/NotifyCapture.h"
#include "../common/RunDirectory.h"
#include "../common/TemporaryFolder.h"
#include "../common/VisibleLines.h"
#include "MovieFiles.h"
#include "MovieWriter.h"
#include "SoundFiles.h"
#include "app/ARApplication.h"
#include "scene/ARAudio.h"

#include <gtest/gtest.h>

#include <osg/Geode>

#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;
namespace fs = std::filesystem;

namespace
{

// A size of the process that /proc/self/status gives ("VmPeak:", the most address space it has held
// so far, "VmSize:", what it holds now), in bytes.
size_t processSize(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return static_cast<size_t>(std::stoull(line.substr(field.size()))) * 1024;
    return 0;
}

struct CorpusMovie
{
    std::string name;
    int width;
    int height;
    std::string arguments; // between the grey ramp input and the output file
    int frames = 10;       // grey ramp pictures it holds (at 25 per second unless the arguments say)
    int rate = 25;
    double seconds = 0.4;
    size_t mustShow = 1; // pictures seen at the least: a clock that jumps skips them
};

const char* x264 = "-c:v libx264 -preset ultrafast ";
const char* vp8 = "-c:v libvpx -b:v 100k ";

std::vector<CorpusMovie> corpus()
{
    const std::string tone = toneSource(0.4) + " ";
    return {
        // Codecs and containers.
        {"h264.mp4", 64, 48, std::string(x264) + "-pix_fmt yuv420p"},
        {"hevc.mkv", 854, 480, "-c:v libx265 -preset ultrafast -x265-params log-level=error -pix_fmt yuv420p",
         5, 25, 0.2},
        {"vp9.webm", 30, 18, "-c:v libvpx-vp9 -b:v 100k -deadline realtime -cpu-used 8"},
        {"av1.mkv", 64, 48, "-c:v libaom-av1 -cpu-used 8 -b:v 100k"},
        {"mpeg4.avi", 64, 48, "-c:v mpeg4"},
        {"mjpeg.avi", 97, 33, "-c:v mjpeg -pix_fmt yuvj444p"},
        {"theora.ogv", 30, 18, "-c:v libtheora"},
        // Sizes.
        {"1x1.webm", 1, 1, vp8},
        {"2x2.mkv", 2, 2, "-c:v libvpx-vp9 -b:v 50k -deadline realtime -cpu-used 8"},
        {"7x5.mp4", 7, 5, std::string(x264) + "-pix_fmt yuv444p"},
        {"1080p.mp4", 1920, 1080, std::string(x264) + "-pix_fmt yuv420p", 3, 25, 0.12},
        // Pictures of 10 bits, and a rotation flag (the picture is shown as stored).
        {"10bit.mkv", 64, 48, std::string(x264) + "-pix_fmt yuv420p10le"},
        {"rotated.mp4", 64, 48, std::string(x264) + "-pix_fmt yuv420p -metadata:s:v:0 rotate=90"},
        // Variable frame rate: the first five pictures at 25 per second, the last five at 12.5.
        {"vfr.mkv", 64, 48,
         std::string(x264) +
             "-pix_fmt yuv420p -vf \"settb=1/1000,setpts='if(lt(N,5),N*40,200+(N-5)*80)/1000/TB'\" "
             "-fps_mode vfr",
         10, 25, 0.4},
        // Sound before, with and after the picture, ending early, and none. At ten pictures a second
        // (a second in all) a jumping clock shows: sound half a second late, ending after 0.3 s,
        // missing from 0.2 to 0.6 s, or three seconds of it (more than the sound queue holds) in
        // the file before the first picture.
        {"sound-with.mkv", 64, 48, "-c:v mpeg4 " + tone + "-c:a pcm_s16le"},
        {"sound-before.mp4", 64, 48,
         tone + std::string(x264) + "-pix_fmt yuv420p -vf setpts=PTS+0.2/TB -c:a aac"},
        {"sound-after.webm", 64, 48,
         "-itsoffset 0.5 " + toneSource(1.0) + " " + vp8 + "-c:a libopus -shortest", 10, 10, 1.0, 5},
        {"sound-ends-early.ogv", 30, 18, toneSource(0.3) + " -c:v libtheora -c:a libvorbis", 10, 10, 1.0, 5},
        {"sound-holes.webm", 48, 32,
         toneSource(1.0) + " -af \"aselect='not(between(t,0.2,0.6))'\" " + vp8 + "-c:a libvorbis -shortest",
         10, 10, 1.0, 5},
        {"sound-lead.mkv", 48, 32, toneSource(4.0) + " -vf setpts=PTS+3/TB -c:v mpeg4 -c:a pcm_s16le", 10, 10,
         1.0, 5},
        {"no-sound.mov", 64, 48, "-c:v mpeg4 -an"},
    };
}

// Decodes the movie's pictures in both pixel orders into a buffer longer than pictureSize() asks
// for: the conversion must write inside the picture, whatever its size, and each picture's last
// pixel is its own frame's grey.
void expectDecodedInsideThePicture(const CorpusMovie& movie, const std::string& path)
{
    const size_t guard = 64;
    for (const auto order : {Novaro::MovieDecoder::PixelOrder::RGB, Novaro::MovieDecoder::PixelOrder::BGR})
    {
        Novaro::MovieDecoder decoder(order);
        std::string error;
        ASSERT_TRUE(decoder.open(path, error)) << movie.name << ": " << error;
        ASSERT_EQ(static_cast<size_t>(movie.width) * movie.height * 3, decoder.pictureSize()) << movie.name;
        std::vector<uint8_t> picture(decoder.pictureSize() + guard, 0xA5);
        double seconds = 0.0;
        int frame = 0;
        while (decoder.next(picture.data(), seconds) == Novaro::MovieDecoder::Result::Picture)
        {
            EXPECT_EQ(frame, frameIndexOfGrey(picture[decoder.pictureSize() - 1])) << movie.name;
            ASSERT_EQ(std::vector<uint8_t>(guard, 0xA5),
                      std::vector<uint8_t>(picture.end() - guard, picture.end()))
                << movie.name << " frame " << frame;
            ++frame;
        }
        EXPECT_EQ(movie.frames, frame) << movie.name;
    }
}

// What a movie showed, in order, and how long its clock ran until it paused at its end.
struct Played
{
    std::vector<int> shown;
    double clock = 0.0;
};

// Plays the movies together to their ends, updating each as the player's frame loop does: each
// runs on its own clock, so together they take as long as the longest instead of the sum.
std::vector<Played> playToTheEnd(const std::vector<osg::ref_ptr<osg::ImageStream>>& streams)
{
    std::vector<Played> played(streams.size());
    for (const osg::ref_ptr<osg::ImageStream>& stream : streams)
        stream->play();
    // Notes what each shows now; true once all have paused at their ends.
    const auto record = [&]
    {
        bool ended = true;
        for (size_t index = 0; index < streams.size(); ++index)
        {
            const int frame = frameIndexOfGrey(*streams[index]->data(0, 0));
            if (played[index].shown.empty() || frame != played[index].shown.back())
                played[index].shown.push_back(frame);
            played[index].clock = streams[index]->getCurrentTime();
            ended = ended && streams[index]->getStatus() == osg::ImageStream::PAUSED;
        }
        return ended;
    };
    record();
    stepUntil(
        [&]
        {
            for (const osg::ref_ptr<osg::ImageStream>& stream : streams)
                if (stream->getStatus() != osg::ImageStream::PAUSED)
                    stream->update(nullptr);
        },
        record);
    return played;
}

// The page checksum of the Ogg container (polynomial 0x04c11db7, most significant bit first).
uint32_t oggChecksum(const std::string& page)
{
    uint32_t crc = 0;
    for (unsigned char byte : page)
    {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// A real Ogg Vorbis file of a tenth of a second, then its identification header made to claim
// 'rateHz', with the page checksum made right again so that the decoder believes it.
void writeOggClaimingRate(const std::string& path, uint32_t rateHz)
{
    ASSERT_TRUE(NovaroTest::runFFmpeg(NovaroTest::toneSource(0.1) + " -c:a libvorbis " + path));
    std::string data = NovaroTest::readFile(path);
    ASSERT_EQ(data.compare(0, 4, "OggS"), 0);
    const size_t segments = static_cast<unsigned char>(data[26]);
    size_t pageLength = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        pageLength += static_cast<unsigned char>(data[27 + i]);
    const size_t packet = 27 + segments;
    ASSERT_EQ(data.compare(packet, 7, "\x01vorbis"), 0);
    std::string rate;
    appendLittleEndian(rate, rateHz, 4);
    data.replace(packet + 12, 4, rate);
    data.replace(22, 4, std::string(4, '\0'));
    std::string checksum;
    appendLittleEndian(checksum, oggChecksum(data.substr(0, pageLength)), 4);
    data.replace(22, 4, checksum);
    std::ofstream(path, std::ios::binary) << data;
}

// Lets the address space grow by 'bytes' from now on.
void limitMemoryGrowth(rlim_t bytes)
{
    const rlim_t current = processSize("VmSize:");
    const rlimit limit = {current + bytes, current + bytes};
    setrlimit(RLIMIT_AS, &limit);
}

} // namespace

// One file for each way a movie is refused: a file no demuxer takes (cut in its header, garbage,
// empty or text alike), no file, no regular file, no pictures (sound only, as a movie cut before
// its picture's headers is too), a picture too large.
TEST(DamagedMovies, EachIsRefusedOrReportedOnceWithItsReasonPlayingWhatItCanAndReservingNothing)
{
    // Movies read through the run directory's reader, written into a folder of the test's own.
    usePluginFolder();
    TemporaryFolder folder;
    std::filesystem::create_directories(folder.file("folder.mkv"));
    ASSERT_TRUE(runFFmpeg(toneSource(0.2) + " " + folder.file("sound.mkv")));
    // A picture taller than the reader takes, though narrow enough to be small.
    ASSERT_TRUE(runFFmpeg(greyRampSource(16, 4104, 0.08) + " -c:v ffv1 " + folder.file("tall.mkv")));

    // Nothing is reserved for what a file claims.
    const auto expectRefused = [&](const std::string& path, const std::string& reason)
    {
        const size_t before = processSize("VmPeak:");
        NotifyCapture console(osg::FATAL);
        EXPECT_FALSE(openMovie(path).valid()) << path;
        EXPECT_LT(processSize("VmPeak:") - before, size_t(512) << 20) << path;
        const std::vector<std::string> lines = visibleLinesWith(console, path);
        ASSERT_EQ(1u, lines.size()) << path << "\n" << console.text();
        EXPECT_EQ(0u, lines[0].rfind("WARNING: cannot play movie " + path + ": " + reason, 0)) << lines[0];
    };
    expectRefused(folder.write("text.avi", "this is not a movie\n"), "cannot open movie: ");
    expectRefused(folder.file("missing.webm"), "no such file");
    expectRefused(folder.file("folder.mkv"), "not a regular file");
    expectRefused(folder.file("sound.mkv"), "no video stream");
    expectRefused(folder.file("tall.mkv"), "picture of 16x4104");

    // A key-frame table's entry count (after its type and version) claiming 440 million entries in
    // a file of a few kilobytes: 1.7 GB if believed.
    const std::string good = folder.file("good.mp4");
    ASSERT_TRUE(runFFmpeg(greyRampSource(64, 48, 0.4) +
                          " -c:v libx264 -preset ultrafast -g 4 -pix_fmt yuv420p " + good));
    std::string movie = readFile(good);
    const size_t table = movie.find("stss");
    ASSERT_NE(std::string::npos, table);
    movie.replace(table + 8, 4, std::string("\x1a\x45\xdf\xa3", 4));
    expectRefused(folder.write("huge-table.mp4", movie), "");

    // A movie cut shorter while it plays, or lacking its end, is reported once.
    // Busy pictures, so that the file is far larger than what FFmpeg reads ahead.
    const std::string path = folder.file("cut.mkv");
    ASSERT_TRUE(runFFmpeg("-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg4 -q:v 2 " + path));
    const auto size = std::filesystem::file_size(path);
    ASSERT_GT(size, 400000u);

    NotifyCapture console(osg::FATAL);
    osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
    ASSERT_TRUE(stream.valid());
    stream->play();
    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return stream->getCurrentTime() > 0.3; }));
    std::filesystem::resize_file(path, size / 4);

    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return !visibleLinesWith(console, path).empty(); }))
        << "no report; status " << stream->getStatus();
    // The stream stops on its last picture, whatever the looping mode, and says it once.
    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return stream->getStatus() == osg::ImageStream::PAUSED; }));
    const unsigned int modified = stream->getModifiedCount();
    for (int frame = 0; frame < 50; ++frame)
        stream->update(nullptr);
    EXPECT_EQ(modified, stream->getModifiedCount());
    const std::vector<std::string> lines = visibleLinesWith(console, path);
    ASSERT_EQ(1u, lines.size()) << console.text();
    EXPECT_EQ(0u, lines[0].rfind("WARNING: movie " + path + " stopped: the file was cut from ", 0))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" to " + std::to_string(size / 4) + " bytes")) << lines[0];

    // A movie that lacks its end plays what it has and says so once.
    const std::string whole = folder.file("whole.mkv");
    ASSERT_TRUE(runFFmpeg("-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v mpeg4 " + whole));
    const std::string content = readFile(whole);
    const std::string half = folder.write("half.mkv", content.substr(0, content.size() / 2));

    osg::ref_ptr<osg::ImageStream> halfStream = openMovie(half);
    ASSERT_TRUE(halfStream.valid());
    halfStream->play();
    // Looping: the end comes round again, the report does not.
    ASSERT_TRUE(updateMovieUntil(*halfStream, [&] { return halfStream->getCurrentTime() > 2.5; }));
    const std::vector<std::string> halfLines = visibleLinesWith(console, half);
    ASSERT_EQ(1u, halfLines.size()) << console.text();
    EXPECT_EQ(0u, halfLines[0].rfind("WARNING: movie " + half + " ends at ", 0)) << halfLines[0];
    EXPECT_NE(std::string::npos, halfLines[0].find(" s of its 2.00 s: the file is cut short or damaged"))
        << halfLines[0];

    setenv("ALSOFT_DRIVERS", "null", 1);
    // Sound rates below and above any real movie's, so the sound is left out.
    for (const int rate : {2000, 384000})
    {
        const std::string path = folder.file("sound-" + std::to_string(rate) + ".mkv");
        ASSERT_TRUE(runFFmpeg(greyRampSource(48, 32, 0.4) + " " + toneSource(0.4, rate) +
                              " -c:v mpeg4 -c:a pcm_s16le " + path));
        NotifyCapture console(osg::FATAL);
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid() && playOnceToTheEnd(*stream));
        EXPECT_EQ(9, frameIndexOfGrey(*stream->data(0, 0)));
        EXPECT_EQ(std::vector<std::string>{"WARNING: movie " + path +
                                           " plays without its sound: a sound rate of " +
                                           std::to_string(rate) + " Hz (played: 4000 to 192000 Hz)"},
                  visibleLinesWith(console, path));
    }

    // A run of pictures no decoder takes: a short one is a scratch the movie plays through, a long
    // one a broken stream, which stops the movie with the reason rather than skipping on to its end.
    const std::string pngs = folder.file("pngs.mkv");
    ASSERT_TRUE(runFFmpeg(greyRampSource(16, 16, 2.0, 100) + " -c:v png " + pngs));
    const std::string pngBytes = readFile(pngs);
    // Each picture is a PNG file of its own; one whose header gives a width of 0 is refused (its
    // signature stays, as the demuxer splits the stream there).
    const std::string signature("\x89PNG\r\n\x1a\n", 8);
    const size_t widthInHeader = 16; // after the signature, the header's length and its name
    const auto damaged = [&](const std::string& name, int first, int count)
    {
        std::string movie = pngBytes;
        size_t at = 0;
        for (int picture = 0; picture < first + count; ++picture, at += signature.size())
        {
            at = movie.find(signature, at);
            if (at == std::string::npos)
                return std::string();
            if (picture >= first)
                movie.replace(at + widthInHeader, 4, 4, '\0');
        }
        return folder.write(name, movie);
    };
    const std::string scratched = damaged("scratched.mkv", 25, 60);
    const std::string broken = damaged("broken.mkv", 25, 150);
    ASSERT_FALSE(scratched.empty() || broken.empty());

    for (const std::string& path : {scratched, broken})
    {
        NotifyCapture console(osg::FATAL);
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid() && playOnceToTheEnd(*stream)) << path;
        const std::vector<std::string> lines = visibleLinesWith(console, path);
        if (path == scratched)
        {
            EXPECT_TRUE(lines.empty()) << console.text();
            EXPECT_EQ(9, frameIndexOfGrey(*stream->data(0, 0)));
            continue;
        }
        ASSERT_EQ(1u, lines.size()) << console.text();
        EXPECT_EQ(0u, lines[0].rfind(
                          "WARNING: movie " + path + " stopped: the video stream cannot be decoded: ", 0))
            << lines[0];
        EXPECT_EQ(4, frameIndexOfGrey(*stream->data(0, 0))); // the last picture before the run
    }
}

// The movie reader over the movies people actually have: every video codec the Debian build of
// FFmpeg encodes, in every container the player is given, at sizes from one pixel to full HD, with
// sound before, with and after the picture, variable frame rates, rotation flags and 10-bit
// pictures. Each one plays all its pictures in order at its own rate, and its decoder writes each
// picture inside the buffer it asked for.
// The sound is the picture's clock: sound that starts late, ends early, has holes or comes long
// before the picture must neither stop the picture nor make it jump.

TEST(MovieCorpus, EveryMoviePlaysItsPicturesInOrderAtItsRateAndOpenCVsExamplesDecodeAtTheirTimes)
{
    setenv("ALSOFT_DRIVERS", "null", 1);
    usePluginFolder();
    TemporaryFolder folder;
    NotifyCapture console(osg::FATAL);
    const std::vector<CorpusMovie> movies = corpus();
    std::vector<osg::ref_ptr<osg::ImageStream>> streams;
    for (const CorpusMovie& movie : movies)
    {
        const std::string path = folder.file(movie.name);
        // The grey ramp first (input 0), so that the sound arguments may add input 1.
        const std::string input = greyRampSource(movie.width, movie.height, movie.seconds, movie.rate);
        ASSERT_TRUE(runFFmpeg(input + " " + movie.arguments + " " + path)) << movie.name;
        expectDecodedInsideThePicture(movie, path);
        streams.push_back(openMovie(path));
        ASSERT_TRUE(streams.back().valid()) << movie.name << "\n" << console.text();
        // At once: a looping stream's decoder would run on past the end while the others are made.
        streams.back()->setLoopingMode(osg::ImageStream::NO_LOOPING);
        EXPECT_EQ(movie.width, streams.back()->s()) << movie.name;
        EXPECT_EQ(movie.height, streams.back()->t()) << movie.name;
    }
    const std::vector<Played> played = playToTheEnd(streams);
    for (size_t index = 0; index < movies.size(); ++index)
    {
        const CorpusMovie& movie = movies[index];
        const std::vector<int>& shown = played[index].shown;
        EXPECT_EQ(0, shown.front()) << movie.name;
        EXPECT_EQ(movie.frames - 1, shown.back()) << movie.name << ": " << ::testing::PrintToString(shown);
        EXPECT_GE(shown.size(), movie.mustShow) << movie.name << ": " << ::testing::PrintToString(shown);
        for (size_t picture = 1; picture < shown.size(); ++picture)
            EXPECT_LT(shown[picture - 1], shown[picture])
                << movie.name << ": " << ::testing::PrintToString(shown);
        // The last picture came when the clock reached it: at the movie's rate, not as fast as
        // decoding goes (the clock stands still once the movie is paused at its end).
        EXPECT_GE(played[index].clock, movie.seconds - 2.0 / movie.rate) << movie.name;
    }
    EXPECT_EQ("", console.text());

    // Movies nobody here made: OpenCV's example movies, as Debian's opencv-doc ships them (Cinepak that
    // leaves frames out over half a minute, MPEG-4 with AC-3 sound, the same clip re-muxed with a
    // broken rate, and MS-MPEG-4 from a surveillance camera). Every picture decodes, none counts as
    // damaged, their times rise, and the last one comes at the end the container gives; the player's
    // reader opens each quietly.
    struct ExampleMovie
    {
        const char* name;
        int width, height, pictures;
        double seconds;
    };
    const ExampleMovie examples[] = {{"tree.avi", 320, 240, 68, 29.6},
                                     {"Megamind.avi", 720, 528, 270, 11.26},
                                     {"Megamind_bugy.avi", 720, 528, 270, 9.0},
                                     {"vtest.avi", 768, 576, 795, 79.5}};
    for (const ExampleMovie& movie : examples)
    {
        const std::string path = std::string("/usr/share/doc/opencv-doc/examples/data/") + movie.name;
        Novaro::MovieDecoder decoder;
        std::string error;
        ASSERT_TRUE(decoder.open(path, error)) << error << " (scripts/install-deps.sh installs opencv-doc)";
        ASSERT_EQ(movie.width, decoder.width()) << movie.name;
        ASSERT_EQ(movie.height, decoder.height()) << movie.name;
        std::vector<uint8_t> picture(decoder.pictureSize()), first;
        double seconds = 0.0, previous = -1.0;
        int pictures = 0;
        while (decoder.next(picture.data(), seconds) == Novaro::MovieDecoder::Result::Picture)
        {
            EXPECT_GT(seconds, previous) << movie.name << " picture " << pictures;
            previous = seconds;
            if (pictures++ == 0)
                first = picture;
        }
        EXPECT_EQ("", decoder.lastError()) << movie.name;
        EXPECT_EQ(movie.pictures, pictures) << movie.name;
        EXPECT_EQ(0u, decoder.damagedPackets()) << movie.name;
        EXPECT_NEAR(movie.seconds, seconds + 1.0 / decoder.frameRate(), 0.05) << movie.name;
        EXPECT_NE(first, picture) << movie.name;

        // The player's reader takes each without a word, its sound included.
        usePluginFolder();
        NotifyCapture console(osg::FATAL);
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid()) << movie.name;
        EXPECT_NEAR(movie.seconds, stream->getLength(), 0.05) << movie.name;
        EXPECT_EQ("", console.text()) << movie.name;
    }
}

// Audio objects: samples or a stream by the file's extension, and sound files whose headers lie.
// What the player allocates must follow what the file holds: the hostile files are loaded in a
// child process whose address space may grow by 512 MB only, where a header believed would end
// the process with an allocation failure.
TEST(AudioObjectsTest, HeadersCostWhatTheFileHoldsUnloadableFilesAreNamedAndTheExtensionChooses)
{
    setenv("ALSOFT_DRIVERS", "null", 0);
    TemporaryFolder folder;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const uint32_t secondOfMono = 44100 * 2;
    // Claims 4 GB of data and holds one second: plays that second.
    const std::string huge = folder.write("huge.wav", wav(1, 44100, 0xFFFFFFF0u, secondOfMono));
    // 44 bytes claiming 2 GB: holds nothing to play.
    const std::string tiny = folder.write("tiny.wav", wav(2, 44100, 0x80000000u, 0));
    const std::string fast = folder.file("fast.ogg");
    writeOggClaimingRate(fast, 4000000000u);

    EXPECT_EXIT(
        {
            limitMemoryGrowth(512u << 20);
            std::ostringstream failures;
            NotifyCapture capture;
            osg::ref_ptr<ARAudio> second = new ARAudio;
            second->setupAudio(huge, true);
            if (std::fabs(second->getDuration() - 1.0f) > 0.01f)
                failures << "huge.wav lasts " << second->getDuration() << " s\n";
            osg::ref_ptr<ARAudio> nothing = new ARAudio;
            nothing->setupAudio(tiny, true);
            osg::ref_ptr<ARAudio> rate = new ARAudio;
            rate->setupAudio(fast, true);
            for (const std::string& line :
                 {" WARNING: cannot play " + tiny + ": no sound data.",
                  " WARNING: cannot play " + fast + ": sample rate 4000000000 Hz (8000 to 192000 Hz)."})
                if (capture.count(line) != 1 || capture.severityOf(line) != osg::FATAL)
                    failures << "missing visible line: " << line << "\n" << capture.text() << "\n";
            if (capture.count("ERROR: could not load specified audio file.") != 2)
                failures << "expected two load errors\n" << capture.text();
            // Refused sounds stay silent and answer their actions.
            rate->play();
            nothing->rewind();
            std::cerr << failures.str();
            std::exit(failures.str().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");

    NotifyCapture capture;
    const auto expectUnloadable = [&](const std::string& file, const std::string& reason)
    {
        capture.clear();
        osg::ref_ptr<ARAudio> audio = new ARAudio;
        audio->setupAudio(file, true);
        EXPECT_EQ(audio->getDuration(), 0.0f) << file;
        EXPECT_EQ(capture.text(osg::FATAL), " WARNING: cannot play " + file + ": " + reason +
                                                ".\nERROR: could not load specified audio file.\n");
    };
    const std::string unknown = "not a sound file of a known format (wav, ogg, flac)";
    expectUnloadable(folder.write("notes.wav", "these are not samples"), unknown);
    expectUnloadable(folder.file("missing.ogg"), "no such readable file");
    // The sound library would size the data by a sample size it has not read yet.
    std::string noFormat = "RIFF";
    appendLittleEndian(noFormat, 4 + 8 + 16 + 8 + 64, 4);
    noFormat += "WAVEdata";
    appendLittleEndian(noFormat, 64, 4);
    noFormat.append(64, '\1');
    noFormat += "fmt ";
    appendLittleEndian(noFormat, 16, 4);
    noFormat.append(16, '\0');
    expectUnloadable(folder.write("early.wav", noFormat), "a WAV file whose data comes before its format");
    // (Headers out of the output's range: the soundtrack files test, through the same check.)

    // Encodings sound editors export that the sound library cannot decode are named, and so is a
    // channel count the output has no layout for; integer samples of any width it takes, also in
    // the extensible format.
    const std::string played = " (plays: WAV of 8 to 32-bit integer samples, Ogg Vorbis, FLAC)";
    const std::pair<std::string, std::string> encodings[] = {
        {"pcm_f32le float.wav", "a WAV file of 32-bit floating-point samples" + played},
        {"pcm_alaw alaw.wav", "a WAV file of A-law sound" + played},
        {"adpcm_ms adpcm.wav", "a WAV file of ADPCM sound" + played},
        {"libopus opus.ogg", "an Ogg file of Opus sound" + played},
        {"pcm_s16le -ac 3 three.wav", "3 channels (plays 1, 2, 4, 6, 7 or 8)"},
        {"pcm_s24le -ac 4 24-bit.wav", ""}};
    for (const auto& [codecAndFile, reason] : encodings)
    {
        const size_t space = codecAndFile.rfind(' ');
        const std::string file = folder.file(codecAndFile.substr(space + 1));
        ASSERT_TRUE(NovaroTest::runFFmpeg(NovaroTest::toneSource(0.2, 48000) + " -c:a " +
                                          codecAndFile.substr(0, space) + " " + file));
        if (!reason.empty())
        {
            expectUnloadable(file, reason);
            continue;
        }
        capture.clear();
        osg::ref_ptr<ARAudio> audio = new ARAudio;
        audio->setupAudio(file, true);
        EXPECT_NEAR(0.2f, audio->getDuration(), 0.01f) << file;
        EXPECT_EQ("", capture.text(osg::FATAL));
    }

    // An honest stream still loads, its length from its header (samples: the extension test).
    const std::string ogg = folder.file("short.ogg");
    writeOggClaimingRate(ogg, 44100);
    capture.clear();
    osg::ref_ptr<ARAudio> stream = new ARAudio;
    stream->setupAudio(ogg, true);
    EXPECT_NEAR(stream->getDuration(), 0.1f, 0.01f);
    EXPECT_FALSE(stream->getUseSamples());
    EXPECT_EQ(capture.text(osg::FATAL), "");

    // The extension chooses samples or a stream, and the sound answers its keys.
    // A tenth of a second of mono under an extension in capitals, invisible: no geometry, still a
    // sound.
    osg::ref_ptr<ARAudio> audio = new ARAudio(new osg::Geode);
    audio->setupAudio(folder.write("tone.WAV", wav(1, 44100, 8820, 8820)), false);
    EXPECT_TRUE(audio->getUseSamples());
    EXPECT_NEAR(0.1f, audio->getDuration(), 0.001f);
    EXPECT_EQ(0u, audio->getNumChildren());
    // Toggling a sound never started leaves it silent; only a paused sound resumes.
    audio->togglePause();
    EXPECT_NE(sf::SoundSource::Playing, audio->getStatus());
    audio->play();
    audio->togglePause();
    EXPECT_EQ(sf::SoundSource::Paused, audio->getStatus());
    audio->togglePause();
    EXPECT_EQ(sf::SoundSource::Playing, audio->getStatus());
    audio->toggleLoop();
    EXPECT_TRUE(audio->getLoop());

    // Other formats are not loaded at all.
    capture.clear();
    osg::ref_ptr<ARAudio> mp3 = new ARAudio(new osg::Geode);
    mp3->setupAudio(folder.write("song.mp3", "ID3"), false);
    EXPECT_TRUE(capture.printed("WARNING: audio file not supported."));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: cannot play " + folder.file("song.mp3") +
                                             ": a sound object plays only .wav and .ogg files."));
    EXPECT_EQ(1u, mp3->getNumChildren());

    // Soundtrack files from the scene's audio settings: only regular files whose header the output
    // can play are opened as streams; everything else is reported by name and left out.
    const fs::path dir = folder.path();
    struct Case
    {
        const char* name;
        std::string data;    // a folder when empty
        const char* message; // empty: the file is a soundtrack
    } cases[] = {
        {"folder.ogg", "", " WARNING: cannot find soundtrack file: "},
        {"surround.wav", wav(65535, 16000, 64, 64), "65535 channels (plays 1, 2, 4, 6, 7 or 8)"},
        {"silent.wav", wav(0, 44100, 64, 64), "0 channels"},
        {"slow.wav", wav(1, 1000, 64, 64), "sample rate 1000 Hz"},
        {"fast.wav", wav(1, 1000000, 64, 64), "sample rate 1000000 Hz"},
        {"stereo.wav", wav(2, 44100, 44100 * 4, 44100 * 4), ""},
    };
    for (const Case& c : cases)
        if (c.data.empty())
            fs::create_directories(dir / c.name);
        else
            folder.write(c.name, c.data);

    std::string settings = "<audio><soundtracks>";
    for (const Case& c : cases)
        settings += std::string("<soundtrack name=\"x\" source=\"") + c.name + "\"/>";
    settings += "</soundtracks></audio>";
    folder.write("audio.xml", settings);

    ARApplication application;
    application.setTemporaryDirectory(dir.string());
    ASSERT_TRUE(application.setAudioConfiguration("audio.xml"));
    capture.clear();
    EXPECT_TRUE(application.loadSoundtracks());

    EXPECT_EQ(application.getSoundtrackCount(), 1u);
    for (const Case& c : cases)
    {
        // The reason and the file name on one line; nothing about a file that plays.
        const std::vector<std::string> lines = visibleLinesWith(capture, (dir / c.name).string());
        if (*c.message == '\0')
            EXPECT_TRUE(lines.empty()) << capture.text();
        else
            EXPECT_TRUE(!lines.empty() && lines[0].find(c.message) != std::string::npos) << c.name << "\n"
                                                                                         << capture.text();
    }
    EXPECT_TRUE(saidPart(capture, "ERROR: could not load specified audio file (" +
                                      (dir / "surround.wav").string() + ")."));

    // Handed a folder directly, the loader says it is not found rather than reading it.
    capture.clear();
    application.loadAudioFile((dir / "folder.ogg").string());
    EXPECT_EQ(capture.text(osg::FATAL),
              " WARNING: audio file not found (" + (dir / "folder.ogg").string() + ").\n");
    EXPECT_EQ(application.getSoundtrackCount(), 1u);
}
