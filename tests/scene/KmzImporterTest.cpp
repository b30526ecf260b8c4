// Unpacking KMZ archives: their layouts, hostile entries, limits and full disks.
#include "scene/KmzImporter.h"
#include "NotifyCapture.h"
#include "SmallDisk.h"
#include "TemporaryFolder.h"
#include "VisibleLines.h"

#include <zip.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>

using namespace Novaro;
using namespace NovaroTest;
namespace fs = std::filesystem;

namespace
{

// Archives: KMZ files as SketchUp and Google Earth write them, and hostile ones.
typedef std::vector<std::pair<std::string, std::string>> Entries;

// Writes a ZIP archive with the entries as given, names unchecked (hostile ones included).
bool writeArchive(const std::string& path, const Entries& entries)
{
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    if (archive == nullptr)
        return false;
    bool added = true;
    for (const auto& [name, data] : entries)
        if (!name.empty() && name.back() == '/')
            added = zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_UTF_8) >= 0 && added;
        else
        {
            zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
            added = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0 && added;
        }
    return zip_close(archive) == 0 && added;
}

// Bytes that deflate cannot shrink, so that packed and unpacked sizes stay alike.
std::string noise(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    for (char& c : out)
    {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

// Rewrites the unpacked size that the archive's local and central headers declare for 'entry'.
void declareSize(const std::string& path, const std::string& entry, uint32_t size)
{
    std::string archive = readFile(path);
    const struct
    {
        const char* signature;
        size_t sizeOffset;
        size_t nameOffset;
    } headers[] = {{"PK\x03\x04", 22, 30}, {"PK\x01\x02", 24, 46}};
    for (const auto& header : headers)
        for (size_t at = archive.find(header.signature); at != std::string::npos;
             at = archive.find(header.signature, at + 4))
            if (archive.compare(at + header.nameOffset, entry.size(), entry) == 0)
                for (int i = 0; i < 4; ++i)
                    archive[at + header.sizeOffset + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    std::ofstream(path, std::ios::binary) << archive;
}

std::string docKml(const std::string& href, const std::string& aliases)
{
    return "<?xml version=\"1.0\"?>\n<kml><Document><Placemark><Model><Link><href>" + href +
           "</href></Link><ResourceMap>" + aliases + "</ResourceMap></Model></Placemark></Document></kml>\n";
}

std::string alias(const std::string& target, const std::string& source)
{
    return "<Alias><targetHref>" + target + "</targetHref><sourceHref>" + source + "</sourceHref></Alias>";
}

class KmzImporterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = temporary.path();
        fs::create_directories(root / "archives");
    }

    std::string archive(const std::string& name, const Entries& entries)
    {
        const std::string path = (root / "archives" / name).string();
        EXPECT_TRUE(writeArchive(path, entries));
        return path;
    }

    // Unpacks into the folder the caller chose: beside the archive, where the tests look for it;
    // 'folders' gathers the folders named for the clean-up.
    std::vector<std::string> import(const std::string& archive)
    {
        return KmzImporter::importArchive(
            archive, (fs::path(archive).parent_path() / KmzImporter::folderName(archive)).string(), folders);
    }

    NovaroTest::TemporaryFolder temporary;
    fs::path root;
    std::vector<std::string> folders;
};

} // namespace

TEST_F(KmzImporterTest, SketchUpLayoutListsDaeFilesOfAnyCaseAndWinsOverTheKmlAndGoogleEarthsCopiesAliases)
{
    const std::string path =
        archive("house.kmz", {{"models/", ""},
                              {"models/House.DAE", "<COLLADA/>"},
                              {"models/roof.dae", "<COLLADA/>"},
                              {"models/notes.txt", "x"},
                              {"models/texture.jpg", "jpg"},
                              {"doc.kml", docKml("other/earth.dae", alias("a.jpg", "b.jpg"))},
                              {"other/earth.dae", "<COLLADA/>"},
                              {"other/a.jpg", "jpg"}});
    const std::vector<std::string> models = import(path);

    const std::string folder = (root / "archives" / "house_kmz.tmp").string();
    ASSERT_EQ(folders, std::vector<std::string>{folder});

    EXPECT_EQ(std::set<std::string>(models.begin(), models.end()),
              (std::set<std::string>{folder + "/models/House.DAE", folder + "/models/roof.dae"}));
    EXPECT_EQ(models.size(), 2u);
    // The KML's alias was not acted on.
    EXPECT_FALSE(fs::exists(fs::path(folder) / "other" / "b.jpg"));

    // The Google Earth layout: the KML names the model, its aliases are copied byte for byte.
    const std::string texture = NovaroTest::bytes("\x89PNG\r\n\x1a\n\0\r\n\r\x00tail");
    const std::string kml =
        docKml("files/house.dae", alias("images/wall.png", "textures/wall.png") +
                                      alias("same.png", "same.png") + alias("missing.png", "wherever.png"));
    const std::string earth = archive("earth.kmz", {{"doc.kml", kml},
                                                    {"files/house.dae", "<COLLADA/>"},
                                                    {"files/images/wall.png", texture},
                                                    {"files/same.png", texture}});
    const fs::path files = root / "archives" / "earth_kmz.tmp" / "files";
    ASSERT_EQ(import(earth), std::vector<std::string>{(files / "house.dae").string()});
    EXPECT_EQ(readFile((files / "textures" / "wall.png").string()), texture);
    // An alias onto itself leaves its file alone; an alias of a missing file copies nothing.
    EXPECT_EQ(readFile((files / "same.png").string()), texture);
    EXPECT_FALSE(fs::exists(files / "wherever.png"));
}

TEST_F(KmzImporterTest, HostileEntriesKmlPathsAndFoldersThatExistAreRefusedAndNothingIsWrittenOutside)
{
    const std::string absoluteTarget = (root / "absolute_escape.txt").string();
    const std::string path = archive("hostile.kmz", {{"../escape.txt", "bad"},
                                                     {"models\\..\\..\\escape3.txt", "bad"},
                                                     {absoluteTarget, "bad"},
                                                     {"C:\\escape4.txt", "bad"},
                                                     // Refused too, though it would land inside: no
                                                     // archive tool writes "..", a crafted archive does.
                                                     {"models/../sneaky.dae", "bad"},
                                                     {"models/fine.dae", "<COLLADA/>"},
                                                     {"./models/./also.dae", "<COLLADA/>"}});
    const fs::path folder = root / "archives" / "hostile_kmz.tmp";

    NotifyCapture capture;
    EXPECT_FALSE(KmzImporter::unzip(path, folder.string(), false));
    EXPECT_TRUE(capture.printed("Unable to unzip file: '" + path + "'"));
    EXPECT_TRUE(saidPart(capture, " WARNING: refusing entry '../escape.txt' of archive '" + path + "'"));

    for (const char* escaped : {"escape.txt", "escape3.txt", "C:\\escape4.txt"})
        EXPECT_FALSE(fs::exists(root / "archives" / escaped)) << escaped;
    // Everything else written lies inside the folder (root/escape.txt and the absolute target
    // included): the two well-behaved entries and nothing else.
    std::set<fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().parent_path().filename() != "archives")
            written.insert(entry.path());
    EXPECT_EQ(written, (std::set<fs::path>{folder / "models" / "fine.dae", folder / "models" / "also.dae"}));

    // A KML alias may not reach outside either.
    const std::string kml = docKml("m.dae", alias("m.dae", "../../outside.dae"));
    const std::string earth = archive("earth.kmz", {{"doc.kml", kml}, {"m.dae", "<COLLADA/>"}});
    EXPECT_EQ(import(earth).size(), 1u);
    EXPECT_FALSE(fs::exists(root / "outside.dae"));
    EXPECT_FALSE(fs::exists(root / "archives" / "outside.dae"));

    // Nor a KML model.
    fs::create_directories(root / "outside");
    std::ofstream((root / "outside" / "house.dae").string()) << "<COLLADA/>";
    const std::string hrefs[] = {"../../outside/house.dae", "files\\..\\..\\..\\outside\\house.dae",
                                 (root / "outside" / "house.dae").string(), "files/inside.dae"};
    std::string placemarks;
    for (const std::string& href : hrefs)
        placemarks += "<Placemark><Model><Link><href>" + href + "</href></Link></Model></Placemark>";
    const std::string placed =
        archive("models.kmz", {{"doc.kml", "<kml><Document>" + placemarks + "</Document></kml>"},
                               {"files/inside.dae", "<COLLADA/>"}});
    capture.clear();
    const std::vector<std::string> models = import(placed);
    EXPECT_EQ(models, std::vector<std::string>{folders.back() + "/files/inside.dae"});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(osg::FATAL,
                  capture.severityOf(" WARNING: refusing KML model outside the archive: '" + hrefs[i] + "'"))
            << capture.text();

    // An existing entry is never unpacked into or emptied, and the clean-up removes the folder.
    const std::string scene = archive("scene.kmz", {{"models/a.dae", "one"}});
    // Whatever already has the folder's name, a folder of someone's files or a planted link (one
    // that leads nowhere yet, which unpacking would follow), is left as it is: the archive is refused.
    const fs::path existing = root / "existing";
    fs::create_directories(existing / "models");
    std::ofstream(existing / "keep.txt") << "keep";
    fs::create_directory_symlink(root / "nowhere", root / "link");
    for (const fs::path& taken : {existing, root / "link"})
    {
        NotifyCapture said(osg::FATAL);
        std::vector<std::string> named;
        EXPECT_TRUE(KmzImporter::importArchive(scene, taken.string(), named).empty()) << taken;
        EXPECT_TRUE(named.empty());
        EXPECT_TRUE(said.printed(" WARNING: cannot unpack '" + scene + "' into '" + taken.string() +
                                 "': it exists already"))
            << said.text();
    }
    EXPECT_TRUE(fs::exists(existing / "keep.txt"));
    EXPECT_FALSE(fs::exists(existing / "models" / "a.dae"));

    NotifyCapture said(osg::FATAL);
    EXPECT_TRUE(KmzImporter::importArchive(scene, "", folders).empty());
    EXPECT_TRUE(said.printed(" WARNING: cannot unpack '" + scene +
                             "': there is no private temporary folder to unpack it into."))
        << said.text();

    const fs::path fresh = root / "fresh_kmz.tmp";
    ASSERT_EQ(KmzImporter::importArchive(scene, fresh.string(), folders).size(), 1u);
    KmzImporter::cleanupFolder(fresh.string());
    EXPECT_FALSE(fs::exists(fresh));
    KmzImporter::cleanupFolder(fresh.string()); // nothing left to clean: no harm
}

TEST_F(KmzImporterTest, CorruptMissingOrModelFreeArchivesGiveNoModelsAndNestedOnesAreUnpackedOneLevelDeep)
{
    const std::string corrupt =
        temporary.write("archives/corrupt.kmz", "PK\x03\x04 this is not really a zip archive at all");
    const std::string link = archive(
        "link.kmz", {{"doc.kml", "<kml><NetworkLink><Link><href>x.dae</href></Link></NetworkLink></kml>"}});
    const auto expectNoModels = [&](const std::string& path, const std::string& said)
    {
        NotifyCapture capture;
        EXPECT_TRUE(import(path).empty()) << path;
        EXPECT_TRUE(capture.printed(said)) << capture.text();
    };
    expectNoModels(corrupt, "Unable to unzip file: '" + corrupt + "'");
    expectNoModels(link, " WARNING: failed to process KML file (file not valid).");
    expectNoModels(archive("empty.kmz", {{"doc.kml", "<kml><Document></Document></kml>"}}),
                   " WARNING: failed to process KML file (data not valid).");
    EXPECT_EQ(folders.size(), 3u); // each named for the clean-up, unpacked or not

    // Nested archives are unpacked one level deep.
    const std::string innermost = (root / "innermost.zip").string();
    ASSERT_TRUE(writeArchive(innermost, {{"deep.txt", "deep"}}));
    const std::string inner = (root / "inner.zip").string();
    ASSERT_TRUE(writeArchive(inner, {{"inside.txt", "inside"}, {"innermost.zip", readFile(innermost)}}));
    const std::string path = archive(
        "outer.zip",
        {{"inner.zip", readFile(inner)}, {"UPPER.ZIP", readFile(inner)}, {"mixed.Zip", readFile(inner)}});
    const fs::path folder = root / "outer";

    EXPECT_TRUE(KmzImporter::unzip(path, folder.string(), true));
    EXPECT_EQ(readFile((folder / "inner" / "inside.txt").string()), "inside");
    EXPECT_EQ(readFile((folder / "UPPER" / "inside.txt").string()), "inside");
    EXPECT_FALSE(fs::exists(folder / "mixed"));
    EXPECT_TRUE(fs::exists(folder / "inner" / "innermost.zip"));
    EXPECT_FALSE(fs::exists(folder / "inner" / "innermost"));
}

TEST_F(KmzImporterTest, ArchivesBeyondTheLimitsAreRefusedWholeAndLeaveNothingBehind)
{
    KmzLimits small;
    small.unpackedBytes = 100000;
    small.entries = 4;
    const std::string inner = (root / "inner.zip").string();
    ASSERT_TRUE(writeArchive(inner, {{"a.txt", noise(60000, 1)}}));

    const auto expectRefused =
        [&](const std::string& name, const Entries& entries, bool nested, const std::string& reason)
    {
        const std::string path = archive(name, entries);
        const fs::path folder = root / "unpacked";
        NotifyCapture capture;
        EXPECT_FALSE(KmzImporter::unzip(path, folder.string(), nested, small)) << name;
        EXPECT_TRUE(saidPart(capture, " WARNING: refusing archive '")) << name;
        EXPECT_TRUE(saidPart(capture, reason)) << name;
        EXPECT_FALSE(fs::exists(folder)) << name;
    };
    expectRefused("large.kmz", {{"models/a.dae", noise(60000, 2)}, {"models/b.dae", noise(60000, 3)}}, false,
                  "unpacks to more than 100000 bytes");
    expectRefused("many.kmz", {{"models/", ""}, {"models/a.dae", "a"}, {"b", "b"}, {"c", "c"}, {"d", "d"}},
                  false, "more than 4 entries");
    // The limits hold for an archive and its nested archives together.
    expectRefused("nested.zip", {{"models/outer.dae", noise(30000, 4)}, {"inner.zip", readFile(inner)}}, true,
                  "unpacks to more than 100000 bytes");

    // A bomb with the default limits: 64 MiB of zeros packed into some 64 KiB. Refused by its
    // ratio before a byte is written.
    const std::string bomb = archive("bomb.kmz", {{"models/bomb.dae", std::string(64 << 20, '\0')}});
    ASSERT_LT(fs::file_size(bomb), 1u << 20);
    NotifyCapture capture;
    EXPECT_TRUE(import(bomb).empty());
    EXPECT_TRUE(saidPart(capture, " WARNING: refusing archive '" + bomb + "': expands more than 100 times."));
    EXPECT_FALSE(fs::exists(folders.at(0)));

    // An archive whose headers declare fewer bytes than an entry holds is stopped while writing,
    // and what it wrote before is removed again; a folder that was there before stays.
    const fs::path existing = root / "existing";
    fs::create_directories(existing / "kept");
    const std::string liar =
        archive("liar.kmz", {{"models/first.dae", "<COLLADA/>"}, {"models/second.dae", noise(300000, 5)}});
    declareSize(liar, "models/second.dae", 1000);
    capture.clear();
    EXPECT_FALSE(KmzImporter::unzip(liar, existing.string(), false));
    EXPECT_TRUE(saidPart(capture, "refusing archive"));
    EXPECT_FALSE(fs::exists(existing / "models"));
    EXPECT_TRUE(fs::exists(existing / "kept"));

    // Headers declaring more than the limit refuse the archive from the headers alone, before a
    // byte is written, whatever the entries then hold.
    const std::string boaster = archive("boaster.kmz", {{"models/a.dae", noise(60000, 6)}});
    declareSize(boaster, "models/a.dae", 150000);
    capture.clear();
    EXPECT_FALSE(KmzImporter::unzip(boaster, (root / "boasted").string(), false, small));
    EXPECT_TRUE(saidPart(capture, "unpacks to more than 100000 bytes")) << capture.text();
}

// A disk that fills up while unpacking, then one where the folder cannot even be made (mounting
// one needs the privilege).
TEST_F(KmzImporterTest, AFullOrReadOnlyDiskRefusesTheArchiveAndSaysWhy)
{
    // 64 KiB of disk: the first model fits, the second does not, whole or in part.
    NovaroTest::SmallDisk disk((root / "small").string(), 64);
    if (!disk.mounted())
        GTEST_SKIP() << "no privilege to mount a file system";
    const std::string full =
        archive("full.kmz", {{"models/a.dae", noise(40000, 1)}, {"models/b.dae", noise(40000, 2)}});
    const std::string unpacked = (root / "small" / "full_kmz.tmp").string();

    NotifyCapture capture(osg::FATAL);
    EXPECT_FALSE(KmzImporter::unzip(full, unpacked, false));
    EXPECT_TRUE(capture.printed(" WARNING: refusing archive '" + full + "': cannot write '" + unpacked +
                                "/models/b.dae': No space left on device."))
        << capture.text();
    EXPECT_FALSE(fs::exists(fs::path(unpacked) / "models" / "a.dae"));
    EXPECT_FALSE(fs::exists(fs::path(unpacked) / "models" / "b.dae"));
    EXPECT_TRUE(KmzImporter::discoverModels(unpacked).empty());

    ASSERT_TRUE(disk.makeReadOnly());
    const std::string readOnly = (root / "small" / "other_kmz.tmp").string();
    capture.clear();
    EXPECT_TRUE(KmzImporter::importArchive(full, readOnly, folders).empty());
    EXPECT_TRUE(capture.printed(" WARNING: cannot unpack '" + full + "' into '" + readOnly +
                                "': Read-only file system"))
        << capture.text();
}
