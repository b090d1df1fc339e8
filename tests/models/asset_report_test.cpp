#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "assets/picture.h"
#include "assets/writer3ds.h"
#include "app/asset_report.h"
#include "base/sha256.h"

namespace {

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(two.data()), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Inspect, ModelLinesAndFailures) {
    const auto dir = std::filesystem::temp_directory_path() / "corvala_models_inspect";
    std::filesystem::create_directories(dir);
    TMesh3DS a;
    a.Name = "Box\t01";
    a.Vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    a.Faces = {{0, 1, 2, 0}};
    TMesh3DS b = a;
    b.Name = "mapped";
    b.TexVerts = {{0, 0}, {1, 0}};
    WriteFile(dir / "good.3DS", Write3DSModel({a, b}));
    WriteFile(dir / "bad.3ds", {0x4D, 0x4D, 100, 0, 0, 0, 0x00, 0x41, 0xFF, 0xFF, 0xFF, 0xFF});
    WriteFile(dir / "notes.txt", {'h', 'i'});

    const std::string good = (dir / "good.3DS").string();
    std::ostringstream out;
    EXPECT_EQ(RunInspect({good}, "", out), 0);
    // The header names the columns; the box is after the turn to y-up (the
    // file's y axis points into the screen, -z).
    const std::string header =
        "#model\tPATH\tMESHES\n"
        "#mesh\tINDEX\tNAME\tVERTICES\tFACES\tTEXCOORDS\tMAPPED\tMIN_X\tMIN_Y\tMIN_Z\tMAX_X\tMAX_Y\tMAX_Z\n";
    EXPECT_EQ(out.str(), header + "model\t" + good + "\t2\n" +
                             "mesh\t0\tBox\\x0901\t3\t1\t3\tno\t0\t0\t-1\t1\t0\t0\n"
                             "mesh\t1\tmapped\t3\t1\t3\tpartial\t0\t0\t-1\t1\t0\t0\n");
    std::ostringstream mixed;
    EXPECT_EQ(RunInspect({(dir / "missing.3ds").string(), good, (dir / "notes.txt").string()}, "", mixed), 1);
    EXPECT_EQ(mixed.str(), out.str());
    // A file cut short still shows what was read, and fails.
    std::ostringstream damaged;
    EXPECT_EQ(RunInspect({(dir / "bad.3ds").string()}, "", damaged), 1);
    EXPECT_EQ(damaged.str(), header + "model\t" + (dir / "bad.3ds").string() + "\t0\n");
    std::filesystem::remove_all(dir);
}

TEST(Inspect, PictureLinesAndDump) {
    const std::filesystem::path tga =
        std::filesystem::path(CORVALA_SHARED_TESTDATA) / "images" / "tga" / "gdkpixbuf-gtk-logo-24bpp-top-left.tga";
    if (!std::filesystem::exists(tga)) GTEST_SKIP() << "no real-world test data at " << tga.string();
    TPicture picture;
    TPictureError error;
    ASSERT_TRUE(DecodePictureFile(tga.string(), picture, error)) << error.Text;
    const auto dir = std::filesystem::temp_directory_path() / "corvala_models_dump";
    std::filesystem::remove_all(dir);
    std::ostringstream out;
    EXPECT_EQ(RunInspect({tga.string()}, dir.string(), out), 0);
    EXPECT_EQ(out.str(), "#image\tPATH\tWIDTH\tHEIGHT\tCHANNELS\tSHA256\tORIGIN\tALPHA\n"
                         "image\t" +
                             tga.string() + "\t" + std::to_string(picture.Width) + "\t" +
                             std::to_string(picture.Height) + "\tRGB\t" +
                             Sha256Hex(picture.Pixels.data(), picture.Pixels.size()) + "\ttop-left\tno\n");
    EXPECT_TRUE(std::filesystem::exists(dir / "gdkpixbuf-gtk-logo-24bpp-top-left.tga.png"));
    std::filesystem::remove_all(dir);
}

TEST(Inspect, PictureOriginAndAlpha) {
    const auto dir = std::filesystem::temp_directory_path() / "corvala_models_origin";
    std::filesystem::create_directories(dir);
    // 1 x 2 TGAs, 32 bits: stored top row first (descriptor 0x28) with one
    // see-through pixel, and bottom row first, opaque.
    auto tga = [](uint8_t descriptor, uint8_t alpha) {
        std::vector<uint8_t> b(18, 0);
        b[2] = 2;
        b[12] = 1;
        b[14] = 2;
        b[16] = 32;
        b[17] = descriptor;
        for (const uint8_t a : {uint8_t(255), alpha}) b.insert(b.end(), {10, 20, 30, a});
        return b;
    };
    WriteFile(dir / "top.tga", tga(0x28, 0));
    WriteFile(dir / "bottom.tga", tga(0x08, 255));
    std::ostringstream out;
    EXPECT_EQ(RunInspect({(dir / "top.tga").string(), (dir / "bottom.tga").string()}, "", out), 0);
    std::istringstream lines(out.str());
    std::string header, top, bottom;
    std::getline(lines, header);
    std::getline(lines, top);
    std::getline(lines, bottom);
    EXPECT_EQ(header.rfind("#image\t", 0), 0u) << out.str();
    EXPECT_EQ(top.substr(top.size() - std::string("\ttop-left\tyes").size()), "\ttop-left\tyes") << top;
    EXPECT_EQ(bottom.substr(bottom.size() - std::string("\tbottom-left\topaque").size()), "\tbottom-left\topaque")
        << bottom;
    std::filesystem::remove_all(dir);
}
