// The production's data generator: the same bytes on every run, music whose
// beats fall on the tracker rows that carry them, and pictures and models
// that the engine's own loaders read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "render/loader3ds.h"
#include "assets/picture.h"
#include "gen/pictures.h"
#include "gen/production.h"
#include "gen/song.h"
#include "media/sound_decode.h"
#include "render/mesh.h"
#include "support/temp_dir.h"

namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One generated data folder shared by the tests of this file.
class GeneratedData : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<testutil::TempDir>();
        std::string error;
        ok = gen::GenerateProduction(dir->Path().string(), error, &names);
        message = error;
    }
    static void TearDownTestSuite() { dir.reset(); }
    void SetUp() override { ASSERT_TRUE(ok) << message; }
    static std::string File(const std::string& name) { return dir->File(name); }

    static std::unique_ptr<testutil::TempDir> dir;
    static std::vector<std::string> names;
    static bool ok;
    static std::string message;
};

std::unique_ptr<testutil::TempDir> GeneratedData::dir;
std::vector<std::string> GeneratedData::names;
bool GeneratedData::ok = false;
std::string GeneratedData::message;

TEST_F(GeneratedData, SecondRunWritesTheSameBytes) {
    testutil::TempDir other;
    std::string error;
    std::vector<std::string> again;
    ASSERT_TRUE(gen::GenerateProduction(other.Path().string(), error, &again)) << error;
    ASSERT_EQ(again, names);
    for (const std::string& name : names) EXPECT_TRUE(ReadAll(File(name)) == ReadAll(other.File(name))) << name;

    // The files the effects load by fixed name are among them.
    for (const char* fixed : {"cyl2.3ds", "velmorandex.3ds", "shader.jpg", "flare.jpg", "music.ogg", "music.trk"})
        EXPECT_NE(std::find(names.begin(), names.end(), fixed), names.end()) << fixed;
}

TEST_F(GeneratedData, TrackerHoldsOneNotePerChannelAndRow) {
    const gen::TSong song = gen::MakeSong();
    const std::vector<uint8_t> bytes = ReadAll(File("music.trk"));
    ASSERT_EQ(bytes, gen::TrackerBytes(song));
    ASSERT_EQ(bytes.size(), size_t(8 + gen::song::ChannelCount * gen::song::RowCount));
    EXPECT_EQ(bytes[0], gen::song::ChannelCount);
    EXPECT_EQ(bytes[4] | bytes[5] << 8, gen::song::RowCount);

    // A second note on the same channel and row would be lost in the file.
    std::set<std::pair<int, int>> used;
    for (const gen::TNoteEvent& e : song.Events) {
        if (e.Channel < 0) continue;
        EXPECT_TRUE(used.insert({e.Channel, e.Row}).second) << "channel " << e.Channel << " row " << e.Row;
        EXPECT_NE(e.Note, 0) << "a note byte of 0 reads as an empty row";
        EXPECT_LT(e.Row, gen::song::RowCount);
    }
    // Row 0 never drives an input: no drum hit may start there.
    for (int channel : {gen::song::KickChannel, gen::song::SnareChannel, gen::song::HatChannel})
        EXPECT_EQ(bytes[8 + size_t(channel) * gen::song::RowCount], 0) << channel;
    EXPECT_GT(gen::NoteRows(song, gen::song::KickChannel, gen::song::KickNote).size(), 100u);
}

// The kick rows of the tracker are where the decoded music has its
// low-frequency onsets: the lag that lines the onset curve up best with the
// kick rows is within a few milliseconds of zero.
TEST_F(GeneratedData, KicksSoundOnTheirRows) {
    TDecodedSound sound;
    std::string error;
    ASSERT_TRUE(DecodeSoundFile(File("music.ogg"), sound, error)) << error;
    ASSERT_EQ(sound.SampleRate, gen::song::SampleRate);
    ASSERT_EQ(sound.Channels, 2);
    const int64_t frames = int64_t(gen::song::RowCount) * gen::song::FramesPerRow;
    ASSERT_GE(sound.Frames(), frames - 4096);

    // Low-passed mono (one-pole at about 150 Hz), then its energy in steps
    // of 32 frames (0.7 ms) and the rise of that energy.
    const int hop = 32;
    std::vector<double> energy(size_t(sound.Frames() / hop), 0.0);
    double low = 0, peak = 0;
    const double alpha = 1 - std::exp(-2 * 3.14159265 * 150 / sound.SampleRate);
    for (int64_t i = 0; i < int64_t(energy.size()) * hop; ++i) {
        const double mono = (sound.Samples[size_t(2 * i)] + sound.Samples[size_t(2 * i + 1)]) / 65536.0;
        peak = std::max(peak, std::fabs(mono));
        low += alpha * (mono - low);
        energy[size_t(i / hop)] += low * low;
    }
    EXPECT_GT(peak, 0.3) << "the music is (nearly) silent";
    std::vector<double> onset(energy.size(), 0.0);
    for (size_t k = 1; k < energy.size(); ++k) onset[k] = std::max(0.0, energy[k] - energy[k - 1]);

    const std::vector<int> kicks = gen::NoteRows(gen::MakeSong(), gen::song::KickChannel, gen::song::KickNote);
    int bestLag = 0;
    double best = -1, atZero = 0;
    for (int lag = -60; lag <= 60; ++lag) { // steps of 32 frames: about +-44 ms
        double sum = 0;
        for (int row : kicks) {
            const int64_t k = int64_t(row) * gen::song::FramesPerRow / hop + lag;
            for (int64_t w = k; w < k + 8; ++w) // the first 6 ms after the lagged start
                if (w >= 0 && w < int64_t(onset.size())) sum += onset[size_t(w)];
        }
        if (lag == 0) atZero = sum;
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    EXPECT_LE(std::abs(bestLag), 4) << "kicks sound " << bestLag * hop * 1000.0 / sound.SampleRate
                                    << " ms away from their rows";
    EXPECT_GT(atZero, 0.5 * best);

    // Before each kick it is quieter in the bass than just after it.
    int louder = 0;
    for (int row : kicks) {
        const int64_t k = int64_t(row) * gen::song::FramesPerRow / hop;
        double before = 0, after = 0;
        for (int64_t w = 1; w <= 40; ++w) {
            if (k - w >= 0) before += energy[size_t(k - w)];
            if (k + w < int64_t(energy.size())) after += energy[size_t(k + w)];
        }
        if (after > 2 * before) ++louder;
    }
    EXPECT_GE(louder, int(kicks.size() * 9 / 10));
}

TEST_F(GeneratedData, PicturesDecodeWithTheEngineLoaders) {
    std::set<std::string> kinds;
    for (const std::string& name : names) {
        if (PictureFormatOf(name) == TPictureFormat::Unknown) continue;
        TPicture picture;
        TPictureError error;
        ASSERT_TRUE(DecodePictureFile(File(name), picture, error)) << name << ": " << error.Text;
        // Rows of 3-byte pixels reach OpenGL unpadded only when width * 3 is
        // a multiple of 4; powers of two keep every side safe.
        EXPECT_EQ(picture.Width & (picture.Width - 1), 0) << name;
        EXPECT_EQ(picture.Height & (picture.Height - 1), 0) << name;
        const std::vector<uint8_t> bytes = ReadAll(File(name));
        if (PictureFormatOf(name) == TPictureFormat::TGA)
            kinds.insert("tga type " + std::to_string(bytes[2]) + " depth " + std::to_string(bytes[16]));
        else
            kinds.insert(PictureFormatOf(name) == TPictureFormat::BMP ? "bmp" : "jpeg");
    }
    for (const char* kind :
         {"bmp", "jpeg", "tga type 2 depth 24", "tga type 2 depth 32", "tga type 10 depth 24", "tga type 10 depth 32"})
        EXPECT_TRUE(kinds.count(kind)) << kind;

    // The title's alpha picture cuts the letters out of a transparent ground.
    TPicture title;
    TPictureError error;
    ASSERT_TRUE(DecodeJPEGMaskedFiles(File("title.jpg"), File("title_alpha.jpg"), title, error)) << error.Text;
    EXPECT_LT(title.Pixels[title.Offset(2, 2) + 3], 16);
    int opaque = 0;
    for (int x = 0; x < title.Width; ++x) opaque += title.Pixels[title.Offset(x, title.Height / 2) + 3] > 240;
    EXPECT_GT(opaque, title.Width / 10);
}

// The cel-shading ramp is sampled along its bottom row with nearest
// filtering: four flat bands with single-step edges.
TEST_F(GeneratedData, ShadingRampHasFourHardBands) {
    TPicture ramp;
    TPictureError error;
    ASSERT_TRUE(DecodePictureFile(File("shader.jpg"), ramp, error)) << error.Text;
    ASSERT_EQ(ramp.Width, 256);
    for (int x = 0; x < ramp.Width; ++x) {
        const gen::TRampBand* band = &gen::ShadeRamp[0];
        for (const gen::TRampBand& b : gen::ShadeRamp)
            if (x >= b.FirstColumn) band = &b;
        const uint8_t* p = &ramp.Pixels[ramp.Offset(x, 0)];
        EXPECT_NEAR(p[0], band->R, 3) << x;
        EXPECT_NEAR(p[1], band->G, 3) << x;
        EXPECT_NEAR(p[2], band->B, 3) << x;
    }
}

struct TEdgeCount {
    std::map<std::pair<uint32_t, uint32_t>, int> Count;
    explicit TEdgeCount(const TMeshData& mesh) {
        for (const TFace& f : mesh.Faces) {
            const uint32_t v[3] = {f.I0, f.I1, f.I2};
            for (int i = 0; i < 3; ++i) ++Count[std::minmax(v[i], v[(i + 1) % 3])];
        }
    }
    int Open() const {
        int open = 0;
        for (const auto& [edge, n] : Count) open += n != 2;
        return open;
    }
};

// Volume by the divergence theorem: positive when faces wind
// counter-clockwise seen from outside.
double SignedVolume(const TMeshData& mesh) {
    double volume = 0;
    for (int32_t i = 0; i < mesh.FaceCount; ++i) {
        const TTriangle t = mesh.GetFaceTriangle(i);
        volume += (double(t.P0.X) * (double(t.P1.Y) * t.P2.Z - double(t.P1.Z) * t.P2.Y) -
                   double(t.P0.Y) * (double(t.P1.X) * t.P2.Z - double(t.P1.Z) * t.P2.X) +
                   double(t.P0.Z) * (double(t.P1.X) * t.P2.Y - double(t.P1.Y) * t.P2.X)) /
                  6.0;
    }
    return volume;
}

TEST_F(GeneratedData, ModelsAreClosedOutwardFacingAndWeldShut) {
    const double pi = 3.14159265358979;
    const std::map<std::string, double> volumes = {
        {"cyl2.3ds", pi * 24 * 24 * 160},
        {"ring.3ds", 2 * pi * pi * 38 * 14 * 14},
        {"orb.3ds", 4.0 / 3 * pi * 42 * 42 * 42},
        {"velmorandex.3ds", 0}, // tube length unknown: only the sign is checked
    };
    for (const auto& [name, expected] : volumes) {
        SCOPED_TRACE(name);
        T3DSLoader loader;
        loader.OpenModel(File(name));
        ASSERT_EQ(loader.MeshCount, 1);
        std::unique_ptr<TMeshDataNM> mesh = loader.MakeMesh(0);
        ASSERT_GT(mesh->FaceCount, 0);
        const double volume = SignedVolume(*mesh);
        EXPECT_GT(volume, 0) << "faces wind inward";
        if (expected > 0) {
            EXPECT_NEAR(volume, expected, expected * 0.05);
        }
        EXPECT_EQ(mesh->TexCoords.size(), size_t(mesh->VertexCount));

        // Seams repeat vertices, so the mesh is open by index until welded.
        mesh->Weld();
        EXPECT_EQ(TEdgeCount(*mesh).Open(), 0);
    }

    T3DSLoader loader;
    loader.OpenModel(File("velmorandex.3ds"));
    std::unique_ptr<TMeshDataNM> logo = loader.MakeMesh(0);
    EXPECT_GT(TEdgeCount(*logo).Open(), 0) << "the logo should carry seams for Weld to close";
    EXPECT_GE(logo->VertexCount, 2000);
    EXPECT_LE(logo->VertexCount, 10000);
}

} // namespace
