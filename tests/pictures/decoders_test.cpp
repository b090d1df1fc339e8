// Decoders on small files built for each layout the formats allow and for
// each kind of malformed input: right pixels, or a message naming the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "assets/picture.h"
#include "assets/png.h"
#include "picture_files.h"

using testpic::Bytes;
using testpic::Pattern;

namespace {

using TDecoder = bool (*)(const uint8_t*, size_t, const std::string&, TPicture&, TPictureError&);

TPicture Decode(TDecoder decoder, const Bytes& bytes, TPictureError& error) {
    TPicture picture;
    decoder(bytes.data(), bytes.size(), "pic.x", picture, error);
    return picture;
}

// Every pixel equals Pattern (alpha only when the picture has 4 channels).
void ExpectPattern(const TPicture& picture, int width, int height, int channels) {
    ASSERT_EQ(picture.Width, width);
    ASSERT_EQ(picture.Height, height);
    ASSERT_EQ(picture.Channels, channels);
    ASSERT_EQ(picture.Pixels.size(), size_t(width * height * channels));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &picture.Pixels[picture.Offset(x, y)];
            const testpic::TRGBA e = Pattern(x, y);
            ASSERT_EQ(p[0], e.R) << x << "," << y;
            ASSERT_EQ(p[1], e.G) << x << "," << y;
            ASSERT_EQ(p[2], e.B) << x << "," << y;
            if (channels == 4) {
                ASSERT_EQ(p[3], e.A) << x << "," << y;
            }
        }
}

void ExpectFailure(TDecoder decoder, const Bytes& bytes, const std::string& caption,
                   const std::string& text) {
    TPictureError error;
    const TPicture picture = Decode(decoder, bytes, error);
    EXPECT_TRUE(picture.Pixels.empty());
    EXPECT_EQ(error.Caption, caption);
    EXPECT_EQ(error.Text, text);
}

} // namespace

TEST(PictureFormat, ChosenByLastFourCharactersAnyCase) {
    EXPECT_EQ(PictureFormatOf("a.JPG"), TPictureFormat::JPEG);
    EXPECT_EQ(PictureFormatOf("dir.bmp/a.Jpg"), TPictureFormat::JPEG);
    EXPECT_EQ(PictureFormatOf("a.bmp"), TPictureFormat::BMP);
    EXPECT_EQ(PictureFormatOf("A.tGa"), TPictureFormat::TGA);
    EXPECT_EQ(PictureFormatOf("a.jpeg"), TPictureFormat::Unknown);
    EXPECT_EQ(PictureFormatOf("a.png"), TPictureFormat::Unknown);
    EXPECT_EQ(PictureFormatOf("bmp"), TPictureFormat::Unknown);
}

TEST(BMPDecoder, HeaderSizesOffsetsPaddingAndRowOrder) {
    TPictureError error;
    // Width 3: 9 bytes a row plus 3 of padding; the colour swap must not drift.
    ExpectPattern(Decode(DecodeBMP, testpic::MakeBMP(3, 4), error), 3, 4, 3);
    ExpectPattern(Decode(DecodeBMP, testpic::MakeBMP(5, 3, 40, true), error), 5, 3, 3);
    ExpectPattern(Decode(DecodeBMP, testpic::MakeBMP(2, 2, 12), error), 2, 2, 3);
    ExpectPattern(Decode(DecodeBMP, testpic::MakeBMP(3, 2, 108, false, 16), error), 3, 2, 3);
    ExpectPattern(Decode(DecodeBMP, testpic::MakeBMP(6, 5, 124, true, 84), error), 6, 5, 3);
    // The last row's padding may be missing.
    Bytes b = testpic::MakeBMP(3, 2);
    b.resize(b.size() - 3);
    ExpectPattern(Decode(DecodeBMP, b, error), 3, 2, 3);
}

TEST(BMPDecoder, RefusesWhatItCannotRead) {
    const Bytes good = testpic::MakeBMP(4, 4);
    Bytes b = good;
    b.resize(good.size() - 1);
    ExpectFailure(DecodeBMP, b, "BMP Unit", "Error reading bitmap data");
    b = good;
    b[10] = 0xFF; // pixel data offset beyond the end of the file
    b[11] = 0xFF;
    ExpectFailure(DecodeBMP, b, "BMP Unit", "Error reading palette");
    ExpectFailure(DecodeBMP, Bytes(good.begin(), good.begin() + 30), "BMP Unit",
                  "Error reading bitmap header - pic.x");
    // The signature is not looked at: the headers decide.
    b = good;
    b[0] = 'P';
    TPictureError unsigned_;
    EXPECT_EQ(Decode(DecodeBMP, b, unsigned_).Pixels, Decode(DecodeBMP, good, unsigned_).Pixels);
    b = good;
    b[28] = 8; // palette picture
    ExpectFailure(DecodeBMP, b, "BMP Unit",
                  "Couldn't load \"pic.x\". Only uncompressed 24 bit BMP files supported (this one "
                  "has 8 bits, "
                  "compression 0).");
    b = good;
    b[30] = 1; // run-length compression
    ExpectFailure(DecodeBMP, b, "BMP Unit",
                  "Couldn't load \"pic.x\". Only uncompressed 24 bit BMP files supported (this one "
                  "has 24 bits, "
                  "compression 1).");
    // A tiny file claiming 100000 x 100000 pixels is refused before allocating.
    b = good;
    b[18] = b[22] = 0xA0;
    b[19] = b[23] = 0x86;
    b[20] = b[24] = 0x01;
    TPictureError error;
    Decode(DecodeBMP, b, error);
    EXPECT_NE(error.Text.find("Picture size 100000 x 100000 is not supported"), std::string::npos)
        << error.Text;
    b = good;
    b[18] = 0; // width 0
    Decode(DecodeBMP, b, error);
    EXPECT_NE(error.Text.find("Picture size 0 x 4"), std::string::npos) << error.Text;
}

TEST(TGADecoder, EveryOriginAndIDFieldComesOutUpright) {
    TPictureError error;
    for (uint8_t type : {2, 10})
        for (int bits : {24, 32})
            for (uint8_t origin : {0x00, 0x10, 0x20, 0x30}) {
                SCOPED_TRACE(testing::Message() << "type " << int(type) << " bits " << bits
                                                << " origin " << int(origin));
                ExpectPattern(
                    Decode(DecodeTGA, testpic::MakeTGA(5, 3, bits, type, origin, 7), error), 5, 3,
                    bits / 8);
            }
}

TEST(TGADecoder, RunLengthPackets) {
    // 130 x 1: a run of 128 (0xFF), a run of 1 (0x80), one raw pixel (0x00).
    Bytes b = testpic::TGAHeader(10, 0, 130, 1, 24);
    b.insert(b.end(), {0xFF, 1, 2, 3, 0x80, 4, 5, 6, 0x00, 7, 8, 9});
    TPictureError error;
    TPicture p = Decode(DecodeTGA, b, error);
    ASSERT_EQ(p.Pixels.size(), 130u * 3) << error.Text;
    EXPECT_EQ(p.Pixels[0], 3);
    EXPECT_EQ(p.Pixels[127 * 3 + 2], 1);
    EXPECT_EQ(p.Pixels[128 * 3], 6);
    EXPECT_EQ(p.Pixels[129 * 3], 9);
    // 128 raw pixels (0x7F), then a run that would go 127 pixels past the
    // end: cut at the last pixel.
    b = testpic::TGAHeader(10, 0, 129, 1, 32);
    b.push_back(0x7F);
    for (int i = 0; i < 128; ++i)
        b.insert(b.end(), {uint8_t(i), 0, 0, 0});
    b.insert(b.end(), {0xFF, 0xAA, 0xBB, 0xCC, 0xDD});
    p = Decode(DecodeTGA, b, error);
    ASSERT_EQ(p.Pixels.size(), 129u * 4) << error.Text;
    EXPECT_EQ(p.Pixels[127 * 4 + 2], 127);
    EXPECT_EQ(p.Pixels[128 * 4], 0xCC);
    EXPECT_EQ(p.Pixels[128 * 4 + 3], 0xDD);
}

TEST(TGADecoder, RefusesWhatItCannotRead) {
    const std::string prefix = "Couldn't load \"pic.x\". ";
    ExpectFailure(DecodeTGA, testpic::TGAHeader(1, 1, 4, 4, 8), "TGA File Error",
                  prefix + "Only 24 and 32bit TGA supported.");
    ExpectFailure(DecodeTGA, testpic::TGAHeader(9, 1, 4, 4, 8), "TGA File Error",
                  prefix + "Only 24 and 32bit TGA supported.");
    ExpectFailure(DecodeTGA, testpic::TGAHeader(2, 1, 4, 4, 24), "TGA File Error",
                  prefix + "Colormapped TGA files not supported.");
    ExpectFailure(DecodeTGA, testpic::TGAHeader(2, 0, 4, 4, 16), "TGA File Error",
                  prefix + "Only 24 and 32 bit TGA files supported.");
    const std::string readError = "Couldn't read file \"pic.x\".";
    for (uint8_t type : {2, 10}) {
        Bytes b = testpic::MakeTGA(4, 4, 24, type);
        b.pop_back();
        ExpectFailure(DecodeTGA, b, "TGA File Error", readError);
    }
    Bytes b = testpic::MakeTGA(4, 4, 24, 2, 0, 10);
    b[0] = 255; // ID field running past the end
    ExpectFailure(DecodeTGA, b, "TGA File Error", readError);
    // A run-length file far too small for its declared size is refused before
    // the pixel buffer is allocated.
    b = testpic::TGAHeader(10, 0, 16384, 4096, 32);
    b.insert(b.end(), {0xFF, 1, 2, 3, 4});
    ExpectFailure(DecodeTGA, b, "TGA File Error", readError);
    TPictureError error;
    Decode(DecodeTGA, testpic::TGAHeader(2, 0, 65535, 65535, 32), error);
    EXPECT_NE(error.Text.find("Picture size 65535 x 65535 is not supported"), std::string::npos)
        << error.Text;
    Decode(DecodeTGA, Bytes(17, 0), error);
    EXPECT_TRUE(error.Raised);
    EXPECT_NE(error.Text.find("pic.x"), std::string::npos);
}

TEST(TGADecoder, FilesMissingOrReadOnly) {
    TPicture picture;
    TPictureError error;
    const std::string missing = (testpic::Folder() / "missing.tga").string();
    EXPECT_FALSE(DecodeTGAFile(missing, picture, error));
    EXPECT_EQ(error.Caption, "TGA Texture");
    EXPECT_EQ(error.Text, "File not found  - " + missing);
    const std::string path = testpic::WriteFile("readonly.tga", testpic::MakeTGA(3, 3));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    EXPECT_TRUE(DecodeTGAFile(path, picture, error)) << error.Text;
    ExpectPattern(picture, 3, 3, 3);
}

TEST(JPEGDecoder, RowsBottomFirstOpaqueAndGreyReplicated) {
    TPictureError error;
    TPicture p = Decode(DecodeJPEG, testpic::MakeJPEG(16, 8), error);
    ASSERT_EQ(p.Channels, 4) << error.Text;
    ASSERT_EQ(p.Width, 16);
    ASSERT_EQ(p.Height, 8);
    for (int y = 0; y < 8; ++y) {
        const uint8_t* px = &p.Pixels[p.Offset(3, y)];
        EXPECT_NEAR(px[1], Pattern(3, y).G, 4) << y; // green rises from the bottom row
        EXPECT_EQ(px[3], 255);
    }
    p = Decode(DecodeJPEG, testpic::MakeJPEG(6, 2, true), error);
    ASSERT_EQ(p.Channels, 4) << error.Text;
    for (int x = 0; x < 6; ++x) {
        const uint8_t* px = &p.Pixels[p.Offset(x, 0)];
        EXPECT_NEAR(px[0], Pattern(x, 0).R, 2);
        EXPECT_EQ(px[0], px[1]);
        EXPECT_EQ(px[0], px[2]);
    }
}

TEST(JPEGDecoder, DecoderErrorsAreRaisedWithTheFileName) {
    TPictureError error;
    for (const Bytes& bad : {Bytes{}, Bytes{0xFF, 0xD8, 0xFF, 0x00, 1, 2}, Bytes(100, 0x42)}) {
        Decode(DecodeJPEG, bad, error);
        EXPECT_TRUE(error.Raised);
        EXPECT_EQ(error.Text.rfind("JPEG error #", 0), 0u) << error.Text;
        EXPECT_NE(error.Text.find("\"pic.x\""), std::string::npos) << error.Text;
    }
    // Cut in the middle of the scan: the library warns and fills the rest.
    Bytes truncated = testpic::MakeJPEG(32, 32);
    truncated.resize(truncated.size() / 2);
    const TPicture p = Decode(DecodeJPEG, truncated, error);
    EXPECT_EQ(p.Pixels.size(), 32u * 32 * 4);
    // A declared 60000 x 60000 picture is refused before decoding.
    Bytes huge = testpic::MakeJPEG(8, 8);
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xEA;
            huge[i + 6] = huge[i + 8] = 0x60;
            break;
        }
    Decode(DecodeJPEG, huge, error);
    EXPECT_FALSE(error.Raised);
    EXPECT_NE(error.Text.find("Picture size 60000 x 60000 is not supported"), std::string::npos)
        << error.Text;
}

TEST(JPEGDecoder, MaskTakesBlueOfTheAlphaPictureRowsFromTheTop) {
    TPicture color, alpha, masked;
    TPictureError error;
    color = Decode(DecodeJPEG, testpic::MakeJPEG(8, 8), error);
    alpha = Decode(DecodeJPEG, testpic::MakeJPEG(4, 4, true), error);
    ASSERT_TRUE(CombineJPEGMask(color, alpha, masked));
    ASSERT_EQ(masked.Width, 8);
    ASSERT_EQ(masked.Height, 8);
    // Top row of both pictures pairs up; beyond the alpha picture: opaque.
    EXPECT_EQ(masked.Pixels[masked.Offset(1, 7) + 3], alpha.Pixels[alpha.Offset(1, 3) + 2]);
    EXPECT_EQ(masked.Pixels[masked.Offset(1, 7)], color.Pixels[color.Offset(1, 7)]);
    EXPECT_EQ(masked.Pixels[masked.Offset(1, 0) + 3], 255);
    EXPECT_EQ(masked.Pixels[masked.Offset(6, 7) + 3], 255);

    const std::string missing = (testpic::Folder() / "nothing.jpg").string();
    const std::string real = testpic::WriteFile("color.jpg", testpic::MakeJPEG(8, 8));
    EXPECT_FALSE(DecodeJPEGMaskedFiles(real, missing, masked, error));
    EXPECT_EQ(error.Caption, "BMP Unit");
    EXPECT_EQ(error.Text, "Couldn't load JPG - \"" + missing + "\"");
}

TEST(PNGFiles, RoundTripIsExactAndDeterministic) {
    for (const TPNGCompression compression : {TPNGCompression::Small, TPNGCompression::Fast}) {
        for (int channels : {3, 4}) {
            // Wrapping differences and a noisy stretch exercise the Sub filter.
            TPicture p{5, 3, channels, {}};
            for (int i = 0; i < 5 * 3 * channels; ++i)
                p.Pixels.push_back(uint8_t(i * 37));
            TPicture wide{301, 7, channels, {}};
            uint32_t seed = 1;
            for (int i = 0; i < 301 * 7 * channels; ++i) {
                seed = seed * 1664525u + 1013904223u;
                wide.Pixels.push_back(i % 600 < 300 ? uint8_t(i * 3) : uint8_t(seed >> 24));
            }
            for (const TPicture* picture : {&p, &wide}) {
                Bytes first, second;
                std::string error;
                ASSERT_TRUE(EncodePNG(*picture, first, error, compression)) << error;
                ASSERT_TRUE(EncodePNG(*picture, second, error, compression)) << error;
                EXPECT_EQ(first, second);
                TPicture back;
                ASSERT_TRUE(DecodePNG(first.data(), first.size(), back, error)) << error;
                EXPECT_EQ(back.Width, picture->Width);
                EXPECT_EQ(back.Height, picture->Height);
                EXPECT_EQ(back.Channels, channels);
                EXPECT_EQ(back.Pixels, picture->Pixels);
            }
        }
    }
    TPicture back;
    std::string error;
    const Bytes garbage(64, 7);
    EXPECT_FALSE(DecodePNG(garbage.data(), garbage.size(), back, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(EncodePNG(TPicture{2, 2, 2, Bytes(8)}, back.Pixels, error));
    EXPECT_FALSE(EncodePNG(TPicture{2, 2, 3, Bytes(11)}, back.Pixels, error, TPNGCompression::Fast));
}
