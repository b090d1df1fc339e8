#include "app/asset_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "assets/file3ds.h"
#include "assets/picture.h"
#include "assets/png.h"
#include "base/sha256.h"
#include "render/mesh.h"

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(c));
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string LowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// Header lines, each printed once before the first line of its kind.
struct THeaders {
    bool Model = false, Image = false;
};

// Mapping coordinates as the file gives them, mesh by mesh.
std::vector<std::string> MappedColumn(const std::string& path) {
    std::vector<std::string> mapped;
    TFile3DS file(path);
    for (int32_t i = 0; i < file.Objects().MeshTotal(); ++i) {
        const TMesh3DS* mesh = file.Objects().MeshAt(i);
        const size_t coords = mesh ? std::min<size_t>(mesh->TexVertCount, mesh->TexVerts.size()) : 0;
        const size_t vertices = mesh ? std::min<size_t>(mesh->VertexCount, mesh->Vertices.size()) : 0;
        mapped.push_back(coords == 0 ? "no" : coords < vertices ? "partial" : "yes");
    }
    return mapped;
}

// Short and stable: rounding noise of the turn (1e-16 for 0) reads 0.
std::string Number(float value) {
    if (std::fabs(value) < 1e-4f) value = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(value));
    return text;
}

bool InspectModel(const std::string& path, std::ostream& out, THeaders& headers) {
    try {
        TBGLBrush brush(path);
        const std::vector<std::string> mapped = MappedColumn(path);
        std::ostringstream lines;
        if (!headers.Model)
            lines
                << "#model\tPATH\tMESHES\n"
                   "#mesh\tINDEX\tNAME\tVERTICES\tFACES\tTEXCOORDS\tMAPPED\tMIN_X\tMIN_Y\tMIN_Z\tMAX_X\tMAX_Y\tMAX_Z\n";
        headers.Model = true;
        lines << "model\t" << Escaped(path) << '\t' << brush.MeshCount << '\n';
        for (int32_t i = 0; i < brush.MeshCount; ++i) {
            const TMeshDataNM& mesh = *brush.Meshes[size_t(i)];
            lines << "mesh\t" << i << '\t' << Escaped(mesh.Name) << '\t' << mesh.VertexCount << '\t' << mesh.FaceCount
                  << '\t' << mesh.TexCoords.size() << '\t' << (size_t(i) < mapped.size() ? mapped[size_t(i)] : "no");
            const size_t vertices = std::min<size_t>(size_t(std::max(mesh.VertexCount, 0)), mesh.Vertices.size());
            TVec3 low{}, high{};
            for (size_t v = 0; v < vertices; ++v) {
                const TVec3& p = mesh.Vertices[v];
                if (v == 0) low = high = p;
                low = TVec3{std::min(low.X, p.X), std::min(low.Y, p.Y), std::min(low.Z, p.Z)};
                high = TVec3{std::max(high.X, p.X), std::max(high.Y, p.Y), std::max(high.Z, p.Z)};
            }
            for (const float value : {low.X, low.Y, low.Z, high.X, high.Y, high.Z}) lines << '\t' << Number(value);
            lines << '\n';
        }
        out << lines.str();
        // The file loaded, but damaged: its warnings are on stderr already.
        return brush.Warnings.empty();
    } catch (const E3DSError& e) {
        std::cerr << e.what() << '\n';
    } catch (const std::exception& e) {
        std::cerr << path << ": " << e.what() << '\n';
    }
    return false;
}

// The corner the file stores first; the decoders turn every picture
// bottom row first, but a picture that comes out flipped shows it here.
std::string PictureOrigin(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadPictureFile(path, bytes)) return "unknown";
    switch (PictureFormatOf(path)) {
    case TPictureFormat::BMP: {
        if (bytes.size() < 26) return "unknown";
        const uint32_t infoSize =
            uint32_t(bytes[14]) | uint32_t(bytes[15]) << 8 | uint32_t(bytes[16]) << 16 | uint32_t(bytes[17]) << 24;
        // A core header has unsigned 16-bit sides; later ones a signed height.
        if (infoSize == 12) return "bottom-left";
        return (bytes[25] & 0x80) ? "top-left" : "bottom-left";
    }
    case TPictureFormat::TGA: {
        if (bytes.size() < 18) return "unknown";
        const uint8_t descriptor = bytes[17];
        return std::string((descriptor & 0x20) ? "top" : "bottom") + ((descriptor & 0x10) ? "-right" : "-left");
    }
    case TPictureFormat::JPEG:
    case TPictureFormat::PNG:
        return "top-left";
    case TPictureFormat::Unknown:
        break;
    }
    return "unknown";
}

std::string AlphaColumn(const TPicture& picture) {
    if (picture.Channels != 4) return "no";
    for (size_t at = 3; at < picture.Pixels.size(); at += 4)
        if (picture.Pixels[at] != 255) return "yes";
    return "opaque";
}

bool InspectPicture(const std::string& path, const std::string& dumpDir, std::ostream& out, THeaders& headers) {
    TPicture picture;
    TPictureError error;
    if (!DecodePictureFile(path, picture, error)) {
        std::string text = error.Text.empty() ? "cannot decode picture" : error.Text;
        if (text.find(path) == std::string::npos) text = path + ": " + text;
        std::cerr << text << '\n';
        return false;
    }
    if (!headers.Image) out << "#image\tPATH\tWIDTH\tHEIGHT\tCHANNELS\tSHA256\tORIGIN\tALPHA\n";
    headers.Image = true;
    out << "image\t" << Escaped(path) << '\t' << picture.Width << '\t' << picture.Height << '\t'
        << (picture.Channels == 4 ? "RGBA" : "RGB") << '\t' << Sha256Hex(picture.Pixels.data(), picture.Pixels.size())
        << '\t' << PictureOrigin(path) << '\t' << AlphaColumn(picture) << '\n';
    if (dumpDir.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(dumpDir, ec);
    const std::string dumpName =
        (std::filesystem::path(dumpDir) / (std::filesystem::path(path).filename().string() + ".png")).string();
    std::string pngError;
    if (!WritePNG(dumpName, picture, pngError)) {
        std::cerr << dumpName << ": " << (pngError.empty() ? "cannot write picture" : pngError) << '\n';
        return false;
    }
    return true;
}

} // namespace

int RunInspect(const std::vector<std::string>& files, const std::string& dumpDir, std::ostream& out) {
    bool failed = false;
    THeaders headers;
    for (const std::string& path : files) {
        bool ok;
        if (LowerExtension(path) == ".3ds") {
            ok = InspectModel(path, out, headers);
        } else if (PictureFormatOf(path) != TPictureFormat::Unknown) {
            ok = InspectPicture(path, dumpDir, out, headers);
        } else {
            std::cerr << path << ": not a 3DS model or a picture (" << ReadablePictureFormats
                      << "; models from .3ds files)\n";
            ok = false;
        }
        failed = failed || !ok;
    }
    out.flush();
    return failed ? 1 : 0;
}
