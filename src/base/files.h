// Looking up the files a script names, relative to the current directory
// (the script's folder, or its DATADIR). A missing file is reported as a
// script error at the current script line, naming the folder looked in.
#pragma once

#include <string>

// The file exists; when it does not but a name differing only in letter
// case does, the message says so (scripts written on case-insensitive
// systems fail on Linux). `what` names the file's role ("music", "picture").
bool CheckAssetFile(const std::string& name, const std::string& what);

// The folder relative file names are looked up in: the current directory
// (the script's folder, or its DATADIR).
std::string LookupFolder();
