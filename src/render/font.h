// Glyph rasterising for the overlay font, kept apart from GL so that the
// bitmaps can be checked without a context. BuildFont (overlay.h) uploads
// them as glBitmap display lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One 1-bit glyph as glBitmap takes it: rows bottom-up, most significant bit
// first, (Width + 7) / 8 bytes per row without padding. The raster position
// is the left end of the baseline; OriginX, OriginY place the bitmap's
// lower-left corner at (-OriginX, -OriginY) from it. Advance moves the raster
// position right, in pixels.
struct TGlyphBitmap {
    int Width = 0;
    int Height = 0;
    int OriginX = 0;
    int OriginY = 0;
    int Advance = 0;
    std::vector<uint8_t> Rows;
};

// The Unicode character of a Windows-1252 code; 0 for control codes and the
// five codes the page leaves undefined.
uint32_t CodePage1252ToUnicode(uint8_t code);

// Copies a 1-bit bitmap of `rows` rows and `width` pixels whose rows are
// `pitch` bytes apart (FreeType's flow: a negative pitch stores the bottom row
// first) into tightly packed rows, bottom row first.
std::vector<uint8_t> MonoRowsBottomUp(const uint8_t* buffer, int rows, int width, int pitch);

// The overlay text's typeface: the family asked of fontconfig, in bold.
inline constexpr const char* OverlayFontFamily = "Verdana";
inline constexpr bool OverlayFontBold = true;

// A party pack carries the overlay font beside the engine under this name
// (face 0 of a TrueType or OpenType file), so that text looks the same on a
// machine whose fonts differ. When that file exists, it is the face, and it
// is emboldened when bold is asked of a face that is not bold; fontconfig is
// not asked.
inline constexpr const char* BundledFontName = "overlay-font.ttf";
// The bundled font beside the running engine; "" when there is none.
std::string BundledFontFile();

// The face fontconfig chooses for the family and weight: file and face index.
// False with a reason when nothing usable matches.
bool MatchFontFile(const std::string& family, bool bold, std::string& file, int& faceIndex, bool& embolden,
                   std::string& error);

// Renders `count` codes from 0 (Windows-1252) of the matched face, `height`
// pixels of cell height (ascent plus descent) or, negative, of em size.
// Codes without a character or glyph come back empty with no advance.
bool RenderFontGlyphs(const std::string& family, int height, bool bold, int count, std::vector<TGlyphBitmap>& glyphs,
                      std::string& error);
