// Decoders on small files built for each layout the formats allow and for
// each kind of malformed input: right pixels, or a message naming the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "assets/picture.h"
#include "assets/png.h"
#include "picture_files.h"

#include <png.h>

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

void ExpectFailure(TDecoder decoder, const Bytes& bytes, const std::string& caption, const std::string& text) {
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
    EXPECT_EQ(PictureFormatOf("a.jpeg"), TPictureFormat::JPEG);
    EXPECT_EQ(PictureFormatOf("a.Png"), TPictureFormat::PNG);
    EXPECT_EQ(PictureFormatOf("a.png.gif"), TPictureFormat::Unknown);
    EXPECT_EQ(PictureFormatOf("a.jpeg/b"), TPictureFormat::Unknown);
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
    ExpectFailure(DecodeBMP, Bytes(good.begin(), good.begin() + 30), "BMP Unit", "Error reading bitmap header - pic.x");
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
    EXPECT_NE(error.Text.find("Picture size 100000 x 100000 is not supported"), std::string::npos) << error.Text;
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
                SCOPED_TRACE(testing::Message()
                             << "type " << int(type) << " bits " << bits << " origin " << int(origin));
                ExpectPattern(Decode(DecodeTGA, testpic::MakeTGA(5, 3, bits, type, origin, 7), error), 5, 3, bits / 8);
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
    for (int i = 0; i < 128; ++i) b.insert(b.end(), {uint8_t(i), 0, 0, 0});
    b.insert(b.end(), {0xFF, 0xAA, 0xBB, 0xCC, 0xDD});
    p = Decode(DecodeTGA, b, error);
    ASSERT_EQ(p.Pixels.size(), 129u * 4) << error.Text;
    EXPECT_EQ(p.Pixels[127 * 4 + 2], 127);
    EXPECT_EQ(p.Pixels[128 * 4], 0xCC);
    EXPECT_EQ(p.Pixels[128 * 4 + 3], 0xDD);
}

TEST(TGADecoder, RefusesWhatItCannotRead) {
    const std::string prefix = "Couldn't load \"pic.x\". ";
    const std::string readable =
        " (TGA pictures are read as types 1, 2, 3, 9, 10 and 11: colour-mapped at 8 or 16 bits, true "
        "colour at 15, 16, 24 or 32 bits, grey at 8 or 16 bits, with or without run-length coding).";
    ExpectFailure(DecodeTGA, testpic::TGAHeader(1, 0, 4, 4, 8), "TGA File Error",
                  prefix + "The colour map type 0 does not fit TGA image type 1" + readable);
    ExpectFailure(DecodeTGA, testpic::TGAHeader(5, 0, 4, 4, 8), "TGA File Error",
                  prefix + "TGA image type 5 is not read" + readable);
    ExpectFailure(DecodeTGA, testpic::TGAHeader(2, 0, 4, 4, 8), "TGA File Error",
                  prefix + "A true-colour TGA picture of 8 bits a pixel is not read" + readable);
    Bytes mapped = testpic::TGAHeader(1, 1, 4, 4, 8);
    mapped[7] = 24; // entries of 24 bits, but none
    ExpectFailure(DecodeTGA, mapped, "TGA File Error", prefix + "The colour map is empty.");
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
    EXPECT_NE(error.Text.find("Picture size 65535 x 65535 is not supported"), std::string::npos) << error.Text;
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
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
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
    // Cut in the middle of the scan: a broken picture naming the cause, not
    // one whose lower part the library filled with grey.
    Bytes truncated = testpic::MakeJPEG(32, 32);
    truncated.resize(truncated.size() / 2);
    const TPicture p = Decode(DecodeJPEG, truncated, error);
    EXPECT_TRUE(p.Pixels.empty());
    EXPECT_TRUE(error.Raised);
    EXPECT_NE(error.Text.find("\"pic.x\": the file ends early (cut short)"), std::string::npos) << error.Text;
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
    EXPECT_NE(error.Text.find("Picture size 60000 x 60000 is not supported"), std::string::npos) << error.Text;
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
            for (int i = 0; i < 5 * 3 * channels; ++i) p.Pixels.push_back(uint8_t(i * 37));
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

namespace {

// A TGA header with a colour map of `mapLength` entries of `mapBits` from
// index `mapFirst`, and the descriptor's alpha bit count.
Bytes MappedHeader(uint8_t type, int width, int height, int bits, int mapFirst, int mapLength, int mapBits,
                   uint8_t descriptor = 0) {
    Bytes b = testpic::TGAHeader(type, 1, width, height, bits);
    b[3] = uint8_t(mapFirst);
    b[4] = uint8_t(mapFirst >> 8);
    b[5] = uint8_t(mapLength);
    b[6] = uint8_t(mapLength >> 8);
    b[7] = uint8_t(mapBits);
    b[17] = descriptor;
    return b;
}

std::vector<int> PixelsOf(const TPicture& p) { return std::vector<int>(p.Pixels.begin(), p.Pixels.end()); }

} // namespace

// Grey, colour-mapped and 15/16-bit files, plain and run-length coded: the
// pixels worked out by hand from the bytes written.
TEST(TGADecoder, GreyColourMappedAndSixteenBitKinds) {
    TPictureError error;
    // Grey, 2 x 1, bottom-left origin.
    Bytes b = testpic::TGAHeader(3, 0, 2, 1, 8);
    b.insert(b.end(), {10, 200});
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{10, 10, 10, 200, 200, 200})) << error.Text;
    b = testpic::TGAHeader(11, 0, 3, 1, 8);
    b.insert(b.end(), {0x81, 77, 0x00, 5}); // a run of two 77s, one raw 5
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{77, 77, 77, 77, 77, 77, 5, 5, 5})) << error.Text;
    b = testpic::TGAHeader(3, 0, 1, 1, 16); // grey and alpha
    b.insert(b.end(), {90, 30});
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{90, 90, 90, 30})) << error.Text;

    // Colour-mapped: entries 5 and 6 (B, G, R), indices 6 then 5; an index
    // outside the map reads black.
    b = MappedHeader(1, 3, 1, 8, 5, 2, 24);
    b.insert(b.end(), {1, 2, 3, 4, 5, 6, 6, 5, 9});
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{6, 5, 4, 3, 2, 1, 0, 0, 0})) << error.Text;
    b = MappedHeader(9, 3, 1, 8, 0, 2, 32);
    b.insert(b.end(), {1, 2, 3, 128, 4, 5, 6, 255, 0x82, 0});
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{3, 2, 1, 128, 3, 2, 1, 128, 3, 2, 1, 128}))
        << error.Text;
    // A colour map ahead of true-colour pixels is skipped.
    b = MappedHeader(2, 1, 1, 24, 0, 2, 24);
    b.insert(b.end(), {9, 9, 9, 9, 9, 9, 30, 20, 10});
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{10, 20, 30})) << error.Text;

    // 15 and 16 bits: 5 bits a component, red highest, widened as c << 3 | c >> 2.
    for (const int bits : {15, 16}) {
        b = testpic::TGAHeader(2, 0, 3, 1, bits);
        b.insert(b.end(), {0x00, 0x7C, 0xE0, 0x03, 0x10, 0x42}); // red, green, 16/31 grey
        EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{255, 0, 0, 0, 255, 0, 132, 132, 132}))
            << bits << ": " << error.Text;
    }
    // 16 bits with one alpha bit: the top bit set is opaque.
    b = testpic::TGAHeader(10, 0, 3, 1, 16);
    b[17] = 1;
    b.insert(b.end(), {0x81, 0x1F, 0x80, 0x00, 0x1F, 0x00});
    EXPECT_EQ(PixelsOf(Decode(DecodeTGA, b, error)), (std::vector<int>{0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 0}))
        << error.Text;
    // A colour map that runs past the end of the file.
    b = MappedHeader(1, 1, 1, 8, 0, 200, 24);
    ExpectFailure(DecodeTGA, b, "TGA File Error", "Couldn't read file \"pic.x\".");
}

// PNG files of each colour type libpng writes, through the picture decoder
// that the texture registry uses: grey, grey with alpha, palette with and
// without transparency, RGB, RGBA.
TEST(PNGPicture, EveryColourTypeComesOutRGBOrRGBA) {
    struct TCase {
        png_uint_32 Format;
        std::vector<uint8_t> Pixels; // the top row first, in Format
        std::vector<int> Expected;   // 2 x 1 pixels as the decoder gives them
    };
    const std::vector<TCase> cases = {
        {PNG_FORMAT_GRAY, {0, 255}, {0, 0, 0, 255, 255, 255}},
        {PNG_FORMAT_GA, {40, 0, 200, 255}, {40, 40, 40, 0, 200, 200, 200, 255}},
        {PNG_FORMAT_RGB, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {PNG_FORMAT_RGBA, {1, 2, 3, 0, 4, 5, 6, 255}, {1, 2, 3, 0, 4, 5, 6, 255}},
        {PNG_FORMAT_RGB_COLORMAP, {0, 1}, {10, 20, 30, 40, 50, 60}},
        {PNG_FORMAT_RGBA_COLORMAP, {0, 1}, {10, 20, 30, 0, 40, 50, 60, 255}},
    };
    for (const TCase& c : cases) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 2;
        image.height = 1;
        image.format = c.Format;
        const uint8_t rgbMap[] = {10, 20, 30, 40, 50, 60};
        const uint8_t rgbaMap[] = {10, 20, 30, 0, 40, 50, 60, 255};
        const bool mapped = c.Format & PNG_FORMAT_FLAG_COLORMAP;
        const void* colormap = !mapped ? nullptr : (c.Format & PNG_FORMAT_FLAG_ALPHA) ? (const void*)rgbaMap : rgbMap;
        image.colormap_entries = mapped ? 2 : 0;
        png_alloc_size_t size = 0;
        ASSERT_TRUE(png_image_write_get_memory_size(image, size, 0, c.Pixels.data(), 0, colormap));
        Bytes file(size);
        ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, c.Pixels.data(), 0, colormap));
        file.resize(size);
        TPictureError error;
        const TPicture p = Decode(DecodePNGPicture, file, error);
        EXPECT_EQ(PixelsOf(p), c.Expected) << "format " << c.Format << ": " << error.Text;
        EXPECT_EQ(p.Channels, c.Format & PNG_FORMAT_FLAG_ALPHA ? 4 : 3) << c.Format;
    }
    TPictureError error;
    const TPicture cut = Decode(DecodePNGPicture, Bytes{0x89, 'P', 'N', 'G', 0, 0}, error);
    EXPECT_TRUE(cut.Pixels.empty());
    EXPECT_EQ(error.Caption, "PNG File Error");
    EXPECT_EQ(error.Text.rfind("Couldn't load \"pic.x\". ", 0), 0u) << error.Text;
}
