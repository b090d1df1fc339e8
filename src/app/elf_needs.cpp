#include "app/elf_needs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// Section types and dynamic tags of the ELF and GNU formats.
constexpr uint32_t SectionDynamic = 6;
constexpr uint32_t SectionDynamicSymbols = 11;
constexpr uint32_t SectionVersionNeeds = 0x6ffffffe;
constexpr uint32_t SectionSymbolVersions = 0x6fffffff;
constexpr int64_t TagNeeded = 1;
constexpr int64_t TagSoname = 14;
constexpr int64_t TagRPath = 15;
constexpr int64_t TagRunPath = 29;
constexpr size_t HeaderSize = 64;
constexpr size_t SectionHeaderSize = 64;
// No table the linker reads comes near this; a larger one is a broken file.
constexpr uint64_t MaxTableBytes = uint64_t(256) << 20;

struct TSection {
    uint32_t Type = 0;
    uint64_t Offset = 0;
    uint64_t Size = 0;
    uint32_t Link = 0;
    uint32_t Info = 0;
};

template <class T> T Get(const std::vector<uint8_t>& bytes, size_t at) {
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof value); // little-endian host and file
    return value;
}

// Reads byte ranges of one open file, refusing any that leave it.
class TElfFile {
public:
    explicit TElfFile(const std::string& name) : fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) size = uint64_t(info.st_size);
    }
    ~TElfFile() {
        if (fd >= 0) ::close(fd);
    }
    TElfFile(const TElfFile&) = delete;
    TElfFile& operator=(const TElfFile&) = delete;

    bool Opened() const { return fd >= 0; }
    bool Read(uint64_t offset, uint64_t count, std::vector<uint8_t>& out) const {
        if (count > MaxTableBytes || offset > size || count > size - offset) return false;
        out.resize(size_t(count));
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t got = ::pread(fd, out.data() + done, out.size() - done, off_t(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            done += size_t(got);
        }
        return true;
    }

private:
    int fd = -1;
    uint64_t size = 0;
};

// The NUL-terminated string at `at` in a string table; false past its end.
bool StringAt(const std::vector<uint8_t>& table, uint64_t at, std::string& out) {
    if (at >= table.size()) return false;
    const auto* begin = reinterpret_cast<const char*>(table.data() + at);
    const void* end = std::memchr(begin, '\0', table.size() - size_t(at));
    if (!end) return false;
    out.assign(begin, static_cast<const char*>(end));
    return true;
}

bool ReadSections(const TElfFile& file, std::vector<TSection>& sections, std::string& why) {
    std::vector<uint8_t> header;
    if (!file.Read(0, HeaderSize, header)) return why = "too short for an ELF header", false;
    if (std::memcmp(header.data(),
                    "\x7f"
                    "ELF",
                    4) != 0)
        return why = "not an ELF file", false;
    if (header[4] != 2 || header[5] != 1) return why = "not a 64-bit little-endian ELF file", false;
    const uint64_t tableAt = Get<uint64_t>(header, 0x28);
    const uint16_t entrySize = Get<uint16_t>(header, 0x3A);
    uint64_t count = Get<uint16_t>(header, 0x3C);
    if (tableAt == 0) return why = "has no section headers", false;
    if (entrySize != SectionHeaderSize) return why = "has section headers of an unknown size", false;
    std::vector<uint8_t> entry;
    if (count == 0) { // more sections than 16 bits count: the number is in section 0
        if (!file.Read(tableAt, SectionHeaderSize, entry)) return why = "section headers lie outside the file", false;
        count = Get<uint64_t>(entry, 32);
    }
    std::vector<uint8_t> table;
    if (!file.Read(tableAt, count * SectionHeaderSize, table))
        return why = "section headers lie outside the file", false;
    sections.resize(size_t(count));
    for (size_t i = 0; i < sections.size(); ++i) {
        const size_t at = i * SectionHeaderSize;
        sections[i].Type = Get<uint32_t>(table, at + 4);
        sections[i].Offset = Get<uint64_t>(table, at + 24);
        sections[i].Size = Get<uint64_t>(table, at + 32);
        sections[i].Link = Get<uint32_t>(table, at + 40);
        sections[i].Info = Get<uint32_t>(table, at + 44);
    }
    return true;
}

// The contents of section `index`; false when it does not lie in the file.
bool SectionBytes(const TElfFile& file, const std::vector<TSection>& sections, uint32_t index,
                  std::vector<uint8_t>& out) {
    return index < sections.size() && file.Read(sections[index].Offset, sections[index].Size, out);
}

bool ReadDynamic(const TElfFile& file, const std::vector<TSection>& sections, const TSection& dynamic, TElfNeeds& needs,
                 std::string& why) {
    std::vector<uint8_t> entries, strings;
    if (!file.Read(dynamic.Offset, dynamic.Size, entries) || !SectionBytes(file, sections, dynamic.Link, strings))
        return why = "the dynamic section lies outside the file", false;
    std::string rpath;
    for (size_t at = 0; at + 16 <= entries.size(); at += 16) {
        const int64_t tag = Get<int64_t>(entries, at);
        const uint64_t value = Get<uint64_t>(entries, at + 8);
        if (tag == 0) break;
        std::string text;
        if (tag != TagNeeded && tag != TagSoname && tag != TagRPath && tag != TagRunPath) continue;
        if (!StringAt(strings, value, text)) return why = "a dynamic entry names a string outside its table", false;
        if (tag == TagNeeded)
            needs.Needed.push_back(text);
        else if (tag == TagSoname)
            needs.Soname = text;
        else if (tag == TagRunPath)
            needs.RunPath = text;
        else
            rpath = text;
    }
    if (needs.RunPath.empty()) needs.RunPath = rpath;
    return true;
}

// The version needs, keyed by their index in the symbol version table.
bool ReadVersionNeeds(const TElfFile& file, const std::vector<TSection>& sections, const TSection& section,
                      std::map<uint16_t, size_t>& byIndex, TElfNeeds& needs, std::string& why) {
    std::vector<uint8_t> bytes, strings;
    if (!file.Read(section.Offset, section.Size, bytes) || !SectionBytes(file, sections, section.Link, strings))
        return why = "the version needs lie outside the file", false;
    const auto broken = [&] { return why = "the version needs are broken", false; };
    uint64_t at = 0;
    // Each record and each of its entries is 16 bytes: counts past that are broken.
    for (uint32_t n = 0; n < section.Info && n <= bytes.size() / 16; ++n) {
        if (at + 16 > bytes.size()) return broken();
        const uint16_t entries = Get<uint16_t>(bytes, size_t(at) + 2);
        std::string library;
        if (!StringAt(strings, Get<uint32_t>(bytes, size_t(at) + 4), library)) return broken();
        uint64_t entry = at + Get<uint32_t>(bytes, size_t(at) + 8);
        for (uint16_t k = 0; k < entries; ++k) {
            if (entry + 16 > bytes.size()) return broken();
            TElfVersionNeed need;
            need.File = library;
            if (!StringAt(strings, Get<uint32_t>(bytes, size_t(entry) + 8), need.Version)) return broken();
            byIndex[Get<uint16_t>(bytes, size_t(entry) + 6) & 0x7fff] = needs.Versions.size();
            needs.Versions.push_back(std::move(need));
            const uint32_t next = Get<uint32_t>(bytes, size_t(entry) + 12);
            if (next == 0) break;
            entry += next;
        }
        const uint32_t next = Get<uint32_t>(bytes, size_t(at) + 12);
        if (next == 0) break;
        at += next;
    }
    return true;
}

// Binds each undefined dynamic symbol to the version need it names.
void ReadVersionedSymbols(const TElfFile& file, const std::vector<TSection>& sections,
                          const std::map<uint16_t, size_t>& byIndex, TElfNeeds& needs) {
    for (const TSection& versions : sections) {
        if (versions.Type != SectionSymbolVersions) continue;
        std::vector<uint8_t> indexes, symbols, strings;
        if (!file.Read(versions.Offset, versions.Size, indexes) ||
            !SectionBytes(file, sections, versions.Link, symbols) || versions.Link >= sections.size() ||
            sections[versions.Link].Type != SectionDynamicSymbols ||
            !SectionBytes(file, sections, sections[versions.Link].Link, strings))
            return;
        const size_t count = std::min(indexes.size() / 2, symbols.size() / 24);
        for (size_t i = 1; i < count; ++i) {
            const uint16_t sectionIndex = Get<uint16_t>(symbols, i * 24 + 6);
            if (sectionIndex != 0) continue; // defined here
            const auto found = byIndex.find(Get<uint16_t>(indexes, i * 2) & 0x7fff);
            std::string name;
            if (found == byIndex.end() || !StringAt(strings, Get<uint32_t>(symbols, i * 24), name)) continue;
            needs.Versions[found->second].Symbols.push_back(name);
        }
        return;
    }
}

} // namespace

bool ReadElfNeeds(const std::string& name, TElfNeeds& needs, std::string& error) {
    needs = TElfNeeds{};
    const TElfFile file(name);
    std::string why;
    std::vector<TSection> sections;
    if (!file.Opened()) {
        why = std::strerror(errno);
    } else if (ReadSections(file, sections, why)) {
        const TSection* dynamic = nullptr;
        for (const TSection& section : sections)
            if (section.Type == SectionDynamic) dynamic = &section;
        if (!dynamic) {
            why = "has no dynamic section (a static or not a linked file)";
        } else if (ReadDynamic(file, sections, *dynamic, needs, why)) {
            std::map<uint16_t, size_t> byIndex;
            bool ok = true;
            for (const TSection& section : sections)
                if (section.Type == SectionVersionNeeds &&
                    !ReadVersionNeeds(file, sections, section, byIndex, needs, why))
                    ok = false;
            if (ok) {
                ReadVersionedSymbols(file, sections, byIndex, needs);
                return true;
            }
        }
    }
    error = name + ": " + why;
    return false;
}

int CompareSymbolVersions(const std::string& a, const std::string& b) {
    // Past the family name ("GLIBC_"), compare dot-separated numbers.
    size_t i = a.find_first_of("0123456789"), j = b.find_first_of("0123456789");
    while (i != std::string::npos && j != std::string::npos && i < a.size() && j < b.size()) {
        char* endA = nullptr;
        char* endB = nullptr;
        const unsigned long x = std::strtoul(a.c_str() + i, &endA, 10);
        const unsigned long y = std::strtoul(b.c_str() + j, &endB, 10);
        if (x != y) return x < y ? -1 : 1;
        i = size_t(endA - a.c_str());
        j = size_t(endB - b.c_str());
        if (i < a.size() && a[i] == '.')
            ++i;
        else
            i = a.size();
        if (j < b.size() && b[j] == '.')
            ++j;
        else
            j = b.size();
    }
    const bool moreA = i != std::string::npos && i < a.size();
    const bool moreB = j != std::string::npos && j < b.size();
    return moreA == moreB ? 0 : (moreA ? 1 : -1);
}
