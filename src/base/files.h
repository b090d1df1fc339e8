// Looking up the files a script names, relative to the current directory
// (the script's folder, or its DATADIR). A missing file is reported as a
// script error at the current script line, naming the folder looked in.
#pragma once

#include <functional>
#include <string>

// The file exists; when it does not but a name differing only in letter
// case does, the message says so (scripts written on case-insensitive
// systems fail on Linux). `what` names the file's role ("music", "picture").
bool CheckAssetFile(const std::string& name, const std::string& what);

// The folder relative file names are looked up in: the current directory
// (the script's folder, or its DATADIR).
std::string LookupFolder();

// The absolute form of `name` against the current folder ("" stays "").
std::string AbsoluteFileName(const std::string& name);

// Every input file the engine reads for a demo (script, tracker, picture,
// model, music) is announced here by the name it is opened with, before it
// is opened, and so is every file a loader looked for and did not find.
// Dev mode watches these files for changes; without an observer the call
// does nothing.
using TInputFileObserver = std::function<void(const std::string& name)>;
void SetInputFileObserver(TInputFileObserver observer);
void NoteInputFile(const std::string& name);
