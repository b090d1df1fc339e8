// What a shared object or executable asks of the dynamic linker, read from
// its ELF file: the libraries it needs (DT_NEEDED), its own soname, its
// search path, and the symbol versions it needs from each library
// ("GLIBC_2.34" from libc.so.6) with the undefined symbols bound to each.
// The party pack decides what to bundle and which C library a pack needs
// from these. Only 64-bit little-endian files (x86-64, AArch64) are read.
#pragma once

#include <string>
#include <vector>

struct TElfVersionNeed {
    std::string File;                 // the library's soname ("libc.so.6")
    std::string Version;              // "GLIBC_2.34"
    std::vector<std::string> Symbols; // undefined symbols that need it
};

struct TElfNeeds {
    std::string Soname;              // DT_SONAME, "" for an executable
    std::string RunPath;             // DT_RUNPATH, else DT_RPATH; "" none
    std::vector<std::string> Needed; // DT_NEEDED in file order
    std::vector<TElfVersionNeed> Versions;
};

// False with "FILE: REASON" in `error` for a file that is not a readable
// 64-bit little-endian ELF object with a dynamic section, or whose tables
// point outside the file.
bool ReadElfNeeds(const std::string& file, TElfNeeds& needs, std::string& error);

// Compares the numbers of two symbol versions of one family ("GLIBC_2.9" <
// "GLIBC_2.34"): negative, zero or positive.
int CompareSymbolVersions(const std::string& a, const std::string& b);
