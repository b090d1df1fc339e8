// fuzz_seeds OUTDIR: writes small valid inputs of every format into
// OUTDIR/<target>/seed-*, built with the same builders the tests use. The
// fuzzers start from these and mutate their way into the damaged cases.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/writer3ds.h"
#include "pictures/picture_files.h"
#include "tracker/song_builders.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path OutDir;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = OutDir / target;
    fs::create_directories(dir);
    std::ofstream(dir / ("seed-" + name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void Put(const std::string& target, const std::string& name, const std::string& text) {
    Put(target, name, Bytes(text.begin(), text.end()));
}

Bytes Tracker(int32_t channels, int32_t rows, const Bytes& grid) {
    Bytes bytes;
    for (int32_t value : {channels, rows})
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(uint32_t(value) >> shift));
    bytes.insert(bytes.end(), grid.begin(), grid.end());
    return bytes;
}

void Scripts() {
    Put("script", "settings.cvl",
        "// credits and display\n"
        "REGISTER $w 800\nRESOLUTIONX $w\nUNREGISTER 800\nRESOLUTIONY 600\nCOLORDEPTH 32\n"
        "DEMO Title here\nGROUP The Group\nPARTY Party\nYEAR 2003\nVERSION final\n"
        "FULLSCREEN false\nSHOWTIMER True\nSPEED 50\nSTARTTIME 1.5\nENDTIME 12345\n"
        "CLEARCOLOR 255 128 0 255\nLOADINGSCREEN loading.jpg\nINIT\nDRAWLOADING 0.5\n");
    Put("script", "timeline.cvl",
        "TRACKER karmont.cvl\nBPM 120\nLOADMUSIC music.ogg\n"
        "LOAD plaincolor 2\nE 255\nF $10\nG 0x20\nS 150\nX 1.5\nY -2\nZ 3e2\n"
        "LOAD flash 3\nA text\nB more text\nC x\nH 1\nW 2\nD 3\nVX 1\nVY 2\nVZ 3\n"
        "BAR intro\nMOUNT 1\nLENGTH 0 4\nEFFECT 2\nINPUT 0 3 36 100 50\n"
        ">>COLOR 1 2 3 4\n>>SINGLE 0.5\n>>OFSET 2\n"
        "BAR\nMOUNT 0 1 2 3\nLENGTH 1 0 0 0\nEFFECT 3\nINPUT 9 0 0 0 0\n");
    Put("script", "effects.cvl",
        "TRACKER music.trk\nBPM 125.5\nINIT\n"
        "LOAD template 0\nLOAD plaintexture 1\nA pic.tga\nLOAD invertflash 4\n"
        "LOAD cylinders 5\nLOAD celshadeobj 6\nA model.3ds\nLOAD object 7\nA karmont.cvl\nB a.bmp\nC b.jpg\n"
        "LOAD particles 8\nA karmont.cvl\nE 100\nF 2\nG 3\n"
        "BAR a\nEFFECT 8\nLENGTH 4\nBAR b\nEFFECT 99\nLENGTH -1\n");
    Put("script", "errors.cvl",
        "E 1\nMOUNT 1\nBPM 1\nLOAD nothing 1\nLOAD plaincolor 5000\nLOAD plaincolor -1\n"
        "RESOLUTIONX abc\nINPUT 10 0 0 0 0\nREGISTER\nDATADIR nowhere\nTRACKER missing.trk\n"
        "X 1e999\nSPEED 99999999999\n\r\n\rlast line without end");
    Put("script", "macros.cvl",
        "REGISTER %a LOAD\nREGISTER %b plaincolor\n%a %b 1\nREGISTER $$ $$\n$$ $$ $$\n"
        "UNREGISTER LOAD\nCLEARCOLOR $FF $FFFFFFFF x10 0X7fffffff\n//only a comment\n   \n");
}

void Trackers() {
    Bytes grid(2 * 64, 0);
    grid[8] = 36;
    grid[9] = 36;
    grid[64 + 16] = 1;
    Put("tracker", "2x64.trk", Tracker(2, 64, grid));
    Put("tracker", "short.trk", Tracker(4, 1000, Bytes(37, 5)));
    Put("tracker", "empty.trk", Tracker(0, 0, {}));
    Put("tracker", "wide.trk", Tracker(17, 3, Bytes(51, 0x24)));
    Put("tracker", "header.trk", Bytes{1, 0, 0});
}

TMesh3DS Quad(const std::string& name, bool mapped) {
    TMesh3DS m;
    m.Name = name;
    m.Vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    if (mapped) m.TexVerts = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    m.Faces = {{0, 1, 2, 7}, {0, 2, 3, 7}};
    m.VertexCount = 4;
    m.TexVertCount = uint16_t(m.TexVerts.size());
    m.FaceCount = 2;
    return m;
}

void Models() {
    TMesh3DS full = Quad("Box01", true);
    full.VertexFlags = {1, 2, 3, 4};
    full.Faces.push_back({1, 2, 3, 0});
    full.SmoothGroups = {1, 2, 0x80000000u};
    full.Materials = {{"RED", 2, {0, 2}}, {"BLUE", 1, {1}}};
    full.UseBoxMap = true;
    for (int i = 0; i < 6; ++i) full.BoxMap[i] = "side" + std::to_string(i);
    full.MeshColor = 5;
    for (int i = 0; i < 12; ++i) full.LocalMatrix[i] = float(i + 1);
    full.UseMapInfo = true;
    full.MapType = 2;
    full.ProcName = "proc";
    full.ProcData = {9, 8, 7};
    full.Hidden = full.Frozen = full.ShadowCasting = full.UseProc = true;
    Put("3ds", "full.3ds", Write3DSModel({full}));

    // Duplicate positions to weld, and a degenerate face.
    TMesh3DS seams = Quad("Seams", false);
    seams.Vertices.push_back({1, 1, 0});
    seams.Vertices.push_back({-0.0f, 0, 0});
    seams.Faces.push_back({4, 5, 1, 0});
    seams.Faces.push_back({0, 0, 0, 0});
    Put("3ds", "seams.3ds", Write3DSModel({seams}));

    std::vector<T3DSKeyFrameNode> nodes(2);
    nodes[0].ObjectName = "Body";
    nodes[1].ObjectName = "Wheel";
    nodes[1].Number = 1;
    nodes[1].Parent = 0;
    nodes[1].InstanceName = "left";
    Put("3ds", "nodes.3ds", Write3DSModel({Quad("Body", true), Quad("Wheel", false)}, nodes));

    T3DSWriter w;
    w.Begin(id3ds::Main);
    w.Begin(id3ds::Editor);
    Write3DSCamera(w, "Camera01", {0, 0, 10}, {0, 0, 0});
    Write3DSLight(w, "Light01", {1, 2, 3});
    Write3DSMesh(w, Quad("Mesh", true));
    w.End();
    w.End();
    Put("3ds", "scene.3ds", w.Take());
}

void Pictures() {
    Put("bmp", "4x3.bmp", testpic::MakeBMP(4, 3));
    Put("bmp", "core.bmp", testpic::MakeBMP(5, 2, 12));
    Put("bmp", "v4-topdown.bmp", testpic::MakeBMP(3, 3, 108, true));
    Put("bmp", "v5-gap.bmp", testpic::MakeBMP(2, 2, 124, false, 7));
    Put("tga", "t2-24.tga", testpic::MakeTGA(4, 3, 24, 2));
    Put("tga", "t2-32-top.tga", testpic::MakeTGA(3, 2, 32, 2, 0x20, 5));
    Put("tga", "t10-24-right.tga", testpic::MakeTGA(5, 2, 24, 10, 0x10));
    Put("tga", "t10-32.tga", testpic::MakeTGA(2, 4, 32, 10, 0x30));
    Put("jpeg", "colour.jpg", testpic::MakeJPEG(8, 8));
    Put("jpeg", "grey.jpg", testpic::MakeJPEG(17, 9, true));
}

Bytes SoundFile(int format, int rate, int channels, int frames) {
    const fs::path path = OutDir / "seed-sound.tmp";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info)) return {};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return {};
    // The peak chunk carries a time stamp; without it every run writes the
    // same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    std::vector<short> samples(size_t(frames * channels));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = short(std::lrint(9000 * std::sin(0.07 * double(i))));
    sf_writef_short(file, samples.data(), frames);
    sf_close(file);
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), {});
    fs::remove(path);
    return bytes;
}

void Sounds() {
    const struct {
        const char* name;
        int format, rate, channels, frames;
    } kinds[] = {
        {"mono16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 64},
        {"stereo-float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 2, 32},
        {"three-u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 3, 16},
        {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 8000, 1, 512},
        {"pcm24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 44100, 2, 16},
        {"ulaw.au", SF_FORMAT_AU | SF_FORMAT_ULAW, 8000, 1, 64},
        {"short.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 256},
        {"short.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, 256},
    };
    for (const auto& kind : kinds) {
        const Bytes bytes = SoundFile(kind.format, kind.rate, kind.channels, kind.frames);
        if (bytes.empty())
            std::fprintf(stderr, "fuzz_seeds: this libsndfile cannot write %s; skipped\n", kind.name);
        else
            Put("music", kind.name, bytes);
    }
}

// Songs for the import: the test MIDI file, a small beat module, and a MIDI
// file in SMPTE time with one track.
void Songs() {
    Put("song", "tempo_map.mid", songs::TestMidi());
    auto pattern = songs::EmptyPattern();
    for (int row = 0; row < 64; row += 4)
        pattern[size_t(row)][size_t(row / 4 % 4)] = {songs::PeriodC1, 1 + row / 16 % 2};
    pattern[8][3] = {0, 0, 0xF, 3};
    Put("song", "beat.mod", songs::Mod({pattern, songs::EmptyPattern()}));
    std::vector<uint8_t> track;
    songs::Event(track, 0, {0x90, 36, 100});
    songs::Event(track, 25, {36, 0});
    songs::EndOfTrack(track);
    Put("song", "smpte.mid", songs::MidiFile(0, 0xE728, {track}));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
        return 2;
    }
    OutDir = argv[1];
    Scripts();
    Trackers();
    Models();
    Pictures();
    Sounds();
    Songs();
    return 0;
}
