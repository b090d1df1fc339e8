// The overlay font: fontconfig picks the face (a party pack brings its own
// beside the engine), FreeType renders hinted 1-bit glyphs, and BuildFont
// compiles one glBitmap display list per code.
#include "render/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "base/files.h"
#include "base/report.h"
#include "render/gl.h"
#include "render/overlay.h"

uint32_t FontListBase = 0;

namespace {

// Cell heights beyond this are taken as this (pixels); the font is for
// status text, and the bound keeps glyph buffers small.
constexpr int MaxFontPixels = 512;

// Codes 0x80 to 0x9F of Windows-1252; 0 where the page defines nothing.
constexpr uint16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

struct TLibraryCloser {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct TFaceCloser {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct TPatternCloser {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using TLibrary = std::unique_ptr<FT_LibraryRec_, TLibraryCloser>;
using TFace = std::unique_ptr<FT_FaceRec_, TFaceCloser>;
using TPattern = std::unique_ptr<FcPattern, TPatternCloser>;

// Pixels per em for a cell height: the cell is the face's Windows ascent plus
// descent where the face has them, else its ascender minus descender.
int EmPixels(FT_Face face, int height) {
    if (height < 0) return std::min(-height, MaxFontPixels);
    height = std::min(height, MaxFontPixels);
    long cellUnits = face->ascender - face->descender;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0)
        cellUnits = long(os2->usWinAscent) + long(os2->usWinDescent);
    if (cellUnits <= 0 || face->units_per_EM == 0) return std::max(height, 1);
    const long ppem = std::lround(double(height) * face->units_per_EM / double(cellUnits));
    return int(std::clamp(ppem, 1L, long(MaxFontPixels)));
}

bool RenderGlyph(FT_Face face, uint32_t character, bool embolden, TGlyphBitmap& glyph) {
    glyph = {};
    if (character == 0) return true;
    const FT_UInt index = FT_Get_Char_Index(face, character);
    if (index == 0) return true;
    const FT_Int32 loadFlags = FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME;
    if (FT_Load_Glyph(face, index, loadFlags) != 0) return false;
    if (embolden) FT_GlyphSlot_Embolden(face->glyph);
    if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) return false;

    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.Advance = int((slot->advance.x + 32) >> 6);
    if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO || bitmap.rows == 0 || bitmap.width == 0) return true;
    glyph.Width = int(bitmap.width);
    glyph.Height = int(bitmap.rows);
    glyph.OriginX = -slot->bitmap_left;
    glyph.OriginY = glyph.Height - slot->bitmap_top;
    glyph.Rows = MonoRowsBottomUp(bitmap.buffer, glyph.Height, glyph.Width, bitmap.pitch);
    // A blank glyph (the space) keeps its advance but no bitmap.
    if (std::all_of(glyph.Rows.begin(), glyph.Rows.end(), [](uint8_t b) { return b == 0; })) {
        glyph.Width = glyph.Height = glyph.OriginX = glyph.OriginY = 0;
        glyph.Rows.clear();
    }
    return true;
}

} // namespace

uint32_t CodePage1252ToUnicode(uint8_t code) {
    if (code < 0x20 || code == 0x7F) return 0;
    if (code >= 0x80 && code <= 0x9F) return Cp1252High[code - 0x80];
    return code;
}

std::vector<uint8_t> MonoRowsBottomUp(const uint8_t* buffer, int rows, int width, int pitch) {
    const size_t rowBytes = size_t(width + 7) / 8;
    std::vector<uint8_t> out(rowBytes * size_t(rows));
    if (rows <= 0 || width <= 0 || !buffer) return out;
    const long step = pitch;
    // Address of the top row: with a negative pitch it is the last one stored.
    const uint8_t* top = pitch < 0 ? buffer + (-step) * (rows - 1) : buffer;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* source = top + step * r;
        std::copy(source, source + rowBytes, out.begin() + long(rowBytes) * (rows - 1 - r));
    }
    // Bits past the width in the last byte of a row are padding: clear them.
    if (width % 8 != 0) {
        const uint8_t mask = uint8_t(0xFF << (8 - width % 8));
        for (int r = 0; r < rows; ++r) out[rowBytes * size_t(r) + rowBytes - 1] &= mask;
    }
    return out;
}

bool MatchFontFile(const std::string& family, bool bold, std::string& file, int& faceIndex, bool& embolden,
                   std::string& error) {
    TPattern pattern(FcPatternCreate());
    if (!pattern) {
        error = "fontconfig is not available";
        return false;
    }
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (bold) FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_BOLD);
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    if (!FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern)) {
        error = "fontconfig has no configuration";
        return false;
    }
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    TPattern match(FcFontMatch(nullptr, pattern.get(), &result));
    FcChar8* path = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &path) != FcResultMatch || !path) {
        error = "no installed font matches \"" + family + "\"";
        return false;
    }
    file = reinterpret_cast<const char*>(path);
    faceIndex = 0;
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &faceIndex);
    FcBool bolden = FcFalse;
    FcPatternGetBool(match.get(), FC_EMBOLDEN, 0, &bolden);
    embolden = bolden == FcTrue;
    return true;
}

std::string BundledFontFile() {
    const std::string engine = ExecutableFile();
    if (engine.empty()) return {};
    const std::string file = (std::filesystem::path(engine).parent_path() / BundledFontName).string();
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec) ? file : std::string();
}

bool RenderFontGlyphs(const std::string& family, int height, bool bold, int count, std::vector<TGlyphBitmap>& glyphs,
                      std::string& error) {
    glyphs.assign(size_t(std::max(count, 0)), TGlyphBitmap{});
    std::string file = BundledFontFile();
    int faceIndex = 0;
    bool embolden = false;
    const bool bundled = !file.empty();
    if (!bundled && !MatchFontFile(family, bold, file, faceIndex, embolden, error)) return false;

    FT_Library rawLibrary = nullptr;
    if (FT_Init_FreeType(&rawLibrary) != 0) {
        error = "FreeType could not be started";
        return false;
    }
    TLibrary library(rawLibrary);
    FT_Face rawFace = nullptr;
    if (FT_New_Face(library.get(), file.c_str(), faceIndex, &rawFace) != 0) {
        error = "cannot read the font file " + file;
        return false;
    }
    TFace face(rawFace);
    if (bundled) embolden = bold && (face->style_flags & FT_STYLE_FLAG_BOLD) == 0;
    if (FT_Set_Pixel_Sizes(face.get(), 0, FT_UInt(EmPixels(face.get(), height == 0 ? 16 : height))) != 0) {
        error = "the font file " + file + " has no size for " + std::to_string(height) + " pixels";
        return false;
    }
    for (int code = 0; code < count; ++code) {
        if (!RenderGlyph(face.get(), CodePage1252ToUnicode(uint8_t(code)), embolden, glyphs[size_t(code)])) {
            glyphs[size_t(code)] = TGlyphBitmap{};
        }
    }
    return true;
}

uint32_t BuildFont(const char* faceName, int height, bool bold) {
    const GLuint base = glGenLists(FontGlyphCount);
    if (base == 0) return 0;
    FontListBase = base;

    const std::string family = faceName ? faceName : "";
    std::vector<TGlyphBitmap> glyphs;
    std::string error;
    if (!RenderFontGlyphs(family, height, bold, FontGlyphCount, glyphs, error))
        ReportMessage("Error", "Unable to build the font \"" + family + "\": " + error);

    // Bitmaps are unpacked while the lists compile: tightly packed rows,
    // most significant bit first.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    // An empty glyph still needs a non-null bitmap inside a display list.
    const GLubyte dummy = 0;
    for (int code = 0; code < FontGlyphCount; ++code) {
        const TGlyphBitmap& glyph = glyphs[size_t(code)];
        const bool empty = glyph.Rows.empty();
        glNewList(base + GLuint(code), GL_COMPILE);
        glBitmap(empty ? 0 : glyph.Width, empty ? 0 : glyph.Height, GLfloat(glyph.OriginX), GLfloat(glyph.OriginY),
                 GLfloat(glyph.Advance), 0.0f, empty ? &dummy : glyph.Rows.data());
        glEndList();
    }
    glPopClientAttrib();
    return base;
}
