#include "app/asset_report.h"

#include <algorithm>
#include <cctype>
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

bool InspectModel(const std::string& path, std::ostream& out) {
    try {
        TBGLBrush brush(path);
        std::ostringstream lines;
        lines << "model\t" << Escaped(path) << '\t' << brush.MeshCount << '\n';
        for (int32_t i = 0; i < brush.MeshCount; ++i) {
            const TMeshDataNM& mesh = *brush.Meshes[size_t(i)];
            lines << "mesh\t" << i << '\t' << Escaped(mesh.Name) << '\t' << mesh.VertexCount << '\t'
                  << mesh.FaceCount << '\t' << mesh.TexCoords.size() << '\n';
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

bool InspectPicture(const std::string& path, const std::string& dumpDir, std::ostream& out) {
    TPicture picture;
    TPictureError error;
    if (!DecodePictureFile(path, picture, error)) {
        std::string text = error.Text.empty() ? "cannot decode picture" : error.Text;
        if (text.find(path) == std::string::npos) text = path + ": " + text;
        std::cerr << text << '\n';
        return false;
    }
    out << "image\t" << Escaped(path) << '\t' << picture.Width << '\t' << picture.Height << '\t'
        << (picture.Channels == 4 ? "RGBA" : "RGB") << '\t'
        << Sha256Hex(picture.Pixels.data(), picture.Pixels.size()) << '\n';
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
    for (const std::string& path : files) {
        bool ok;
        if (LowerExtension(path) == ".3ds") {
            ok = InspectModel(path, out);
        } else if (PictureFormatOf(path) != TPictureFormat::Unknown) {
            ok = InspectPicture(path, dumpDir, out);
        } else {
            std::cerr << path << ": not a 3DS model or a BMP, JPEG or TGA picture\n";
            ok = false;
        }
        failed = failed || !ok;
    }
    out.flush();
    return failed ? 1 : 0;
}
