#include "render/textures.h"

#include "base/report.h"

uint8_t TexFilterMode = 2;

namespace {

GLint MaxTextureSize() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size;
}

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// Shows a decoder failure, or raises it when the decoder says so. A fixed
// message that does not name the picture gets its file name after it.
bool Failed(const TPictureError& error, const std::string& name) {
    if (error.Raised) RaiseApplicationError(error.Text);
    const bool named = error.Text.find(name) != std::string::npos;
    ReportMessage(error.Caption, named ? error.Text : error.Text + " (" + name + ")");
    return false;
}

// No module resources on this platform: every lookup misses.
bool ResourceMissing(const std::string& name, const char* caption) {
    ReportMessage(caption, "File not found in resource - " + name);
    return false;
}

} // namespace

GLuint TexCreate(uint16_t width, uint16_t height, GLenum format, const uint8_t* pixels) {
    const GLint maxSize = MaxTextureSize();
    if (width > maxSize || height > maxSize) {
        ReportMessage("Texture", "Texture of " + SizeText(width, height) +
                                     " pixels is larger than this OpenGL driver allows (" + std::to_string(maxSize) +
                                     " a side).");
        return 0;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    switch (TexFilterMode) {
    case 0:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        break;
    case 1:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        break;
    case 2:
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        break;
    default:
        break;
    }
    // Rows are tightly packed: with the default alignment of 4, 3-byte
    // pixel rows whose length is not a multiple of 4 would come out skewed.
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const GLint internal = format == GL_RGBA ? GL_RGBA : 3;
    const GLenum upload = format == GL_RGBA ? GL_RGBA : GL_RGB;
    const GLint result = gluBuild2DMipmaps(GL_TEXTURE_2D, internal, width, height, upload, GL_UNSIGNED_BYTE, pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    if (result != 0) {
        const GLubyte* text = gluErrorString(GLenum(result));
        ReportMessage("Texture", "Couldn't build the mipmaps of a " + SizeText(width, height) + " texture: " +
                                     (text ? reinterpret_cast<const char*>(text) : std::to_string(result)));
        glDeleteTextures(1, &name);
        return 0;
    }
    return name;
}

bool TexCreatePicture(const std::string& name, const std::string& caption, const TPicture& picture, int32_t& texture) {
    const GLint maxSize = MaxTextureSize();
    if (picture.Width > maxSize || picture.Height > maxSize || picture.Width > 0xFFFF || picture.Height > 0xFFFF) {
        ReportMessage(caption,
                      "Couldn't load \"" + name + "\". Picture size " + SizeText(picture.Width, picture.Height) +
                          " is larger than this OpenGL driver allows (" + std::to_string(maxSize) + " a side).");
        return false;
    }
    const GLuint created = TexCreate(uint16_t(picture.Width), uint16_t(picture.Height),
                                     picture.Channels == 4 ? GL_RGBA : GL_RGB, picture.Pixels.data());
    if (created == 0) return false;
    texture = int32_t(created);
    return true;
}

bool TexLoad(const std::string& name, int32_t& texture, bool fromResource) {
    switch (PictureFormatOf(name)) {
    case TPictureFormat::BMP:
        return TexLoadBMP(name, texture, fromResource);
    case TPictureFormat::JPEG:
        return TexLoadJPG(name, texture, fromResource);
    case TPictureFormat::PNG:
        return TexLoadPNG(name, texture, fromResource);
    case TPictureFormat::TGA:
        return TexLoadTGA(name, texture, fromResource);
    case TPictureFormat::Unknown:
        break;
    }
    ReportMessage("Texture", "Couldn't load \"" + name + "\". " + ReadablePictureFormats + ".");
    return false;
}

bool TexLoadBMP(const std::string& name, int32_t& texture, bool fromResource) {
    if (fromResource) return ResourceMissing(name, "BMP Texture");
    TPicture picture;
    TPictureError error;
    if (!DecodeBMPFile(name, picture, error)) return Failed(error, name);
    return TexCreatePicture(name, "BMP Unit", picture, texture);
}

bool TexLoadJPG(const std::string& name, int32_t& texture, bool fromResource) {
    if (fromResource) return ResourceMissing(name, "JPG Texture");
    TPicture picture;
    TPictureError error;
    if (!DecodeJPEGFile(name, picture, error)) return Failed(error, name);
    return TexCreatePicture(name, "BMP Unit", picture, texture);
}

bool TexLoadPNG(const std::string& name, int32_t& texture, bool fromResource) {
    if (fromResource) return ResourceMissing(name, "PNG Texture");
    TPicture picture;
    TPictureError error;
    if (!DecodePNGFile(name, picture, error)) return Failed(error, name);
    return TexCreatePicture(name, "PNG File Error", picture, texture);
}

bool TexLoadTGA(const std::string& name, int32_t& texture, bool fromResource) {
    if (fromResource) return ResourceMissing(name, "TGA Texture");
    TPicture picture;
    TPictureError error;
    if (!DecodeTGAFile(name, picture, error)) return Failed(error, name);
    return TexCreatePicture(name, "TGA File Error", picture, texture);
}

bool TexLoadJPGMasked(const std::string& colorName, const std::string& alphaName, int32_t& texture) {
    TPicture picture;
    TPictureError error;
    if (!DecodeJPEGMaskedFiles(colorName, alphaName, picture, error)) return Failed(error, colorName);
    return TexCreatePicture(colorName, "BMP Unit", picture, texture);
}
