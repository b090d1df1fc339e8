#include "production.h"

#include <filesystem>
#include <string_view>

#include "base/output.h"

#include "models.h"
#include "music.h"
#include "pictures.h"
#include "song.h"

namespace gen {

namespace {

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, std::string& error) {
    std::string why;
    if (!WriteFileWhole(path.string(), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        why)) {
        error = why;
        return false;
    }
    return true;
}

} // namespace

bool GenerateProduction(const std::string& outDir, std::string& error, std::vector<std::string>* written) {
    const std::filesystem::path dir(outDir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir)) {
        error = "Cannot create the folder " + outDir + (ec ? ": " + ec.message() : std::string());
        return false;
    }

    std::vector<TGenFile> files;
    const TSong song = MakeSong();
    files.push_back(TGenFile{"music.trk", TrackerBytes(song)});
    TGenFile music{"music.ogg", {}};
    std::string why;
    if (!EncodeOggVorbis(RenderMusic(song), 2, song::SampleRate, 0.45, music.Bytes, why)) {
        error = "music.ogg: " + why;
        return false;
    }
    files.push_back(std::move(music));
    if (!MakePictures(files, error)) return false;
    MakeModels(files);

    for (const TGenFile& file : files) {
        if (!WriteFile(dir / file.Name, file.Bytes, error)) return false;
        if (written) written->push_back(file.Name);
    }
    return true;
}

} // namespace gen
