// Decoders against real-world pictures with reference PNGs: every picture
// that has a NAME.ref.png beside it must decode to exactly those pixels.
#include <gtest/gtest.h>

#include <filesystem>

#include "assets/picture.h"
#include "assets/png.h"

namespace fs = std::filesystem;

namespace {

const fs::path Images = fs::path(CORVALA_SHARED_TESTDATA) / "images";

// Compares R, G, B (and A when the reference has it); a decoded picture with
// alpha against an RGB reference must be opaque.
void ExpectSamePixels(const TPicture& decoded, const TPicture& reference, const std::string& name) {
    ASSERT_EQ(decoded.Width, reference.Width) << name;
    ASSERT_EQ(decoded.Height, reference.Height) << name;
    int mismatches = 0;
    for (int y = 0; y < decoded.Height; ++y)
        for (int x = 0; x < decoded.Width; ++x) {
            const uint8_t* d = &decoded.Pixels[decoded.Offset(x, y)];
            const uint8_t* r = &reference.Pixels[reference.Offset(x, y)];
            bool same = d[0] == r[0] && d[1] == r[1] && d[2] == r[2];
            if (reference.Channels == 4)
                same = same && decoded.Channels == 4 && d[3] == r[3];
            else if (decoded.Channels == 4)
                same = same && d[3] == 255;
            if (!same && ++mismatches <= 3)
                ADD_FAILURE() << name << ": pixel (" << x << ", " << y << " from the bottom) is " << int(d[0]) << ","
                              << int(d[1]) << "," << int(d[2]) << ", expected " << int(r[0]) << "," << int(r[1]) << ","
                              << int(r[2]);
        }
    EXPECT_EQ(mismatches, 0) << name;
}

} // namespace

TEST(PictureCorpus, EveryReferenceMatches) {
    if (!fs::is_directory(Images)) GTEST_SKIP() << "no test pictures at " << Images;
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Images)) {
        const std::string path = entry.path().string();
        const std::string suffix = ".ref.png";
        if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string picturePath = path.substr(0, path.size() - suffix.size());
        TPicture reference, decoded;
        std::string pngError;
        ASSERT_TRUE(ReadPNG(path, reference, pngError)) << pngError;
        TPictureError error;
        ASSERT_TRUE(DecodePictureFile(picturePath, decoded, error)) << picturePath << ": " << error.Text;
        ExpectSamePixels(decoded, reference, picturePath);
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no reference pictures under " << Images;
}

TEST(PictureCorpus, EveryPictureDecodesOrExplains) {
    if (!fs::is_directory(Images)) GTEST_SKIP() << "no test pictures at " << Images;
    for (const auto& entry : fs::recursive_directory_iterator(Images)) {
        const std::string path = entry.path().string();
        if (PictureFormatOf(path) == TPictureFormat::Unknown) continue;
        TPicture picture;
        TPictureError error;
        EXPECT_TRUE(DecodePictureFile(path, picture, error)) << path << ": " << error.Text;
        EXPECT_EQ(picture.Pixels.size(), size_t(picture.Width) * picture.Height * picture.Channels) << path;
    }
}
