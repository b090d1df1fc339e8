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

// Refuses, before it is opened, a name that is not a plain file: a FIFO (a
// read would wait for a writer forever), a folder, a device or a socket.
// Links are followed; a missing name passes (the opener reports it). False
// with "NAME: is a FIFO, not a file" in `error`.
bool CheckNotSpecialFile(const std::string& name, std::string& error);
// What `name` is when it is no plain file ("a FIFO (named pipe)", "a
// folder", "a device", "a socket"); "" for a plain file or a missing name.
std::string SpecialFileKind(const std::string& name);

// The folder relative file names are looked up in: the current directory
// (the script's folder, or its DATADIR).
std::string LookupFolder();

// The running program's own file, links resolved ("" where the system does
// not say).
std::string ExecutableFile();

// The absolute form of `name` against the current folder ("" stays "").
std::string AbsoluteFileName(const std::string& name);

// Every input file the engine reads for a demo (script, tracker, picture,
// model, music) is announced here by the name it is opened with, before it
// is opened, and so is every file a loader looked for and did not find.
// Dev mode watches these files for changes. Every name is also noted as a
// protected input (base/output.h): no output of the engine may replace it.
using TInputFileObserver = std::function<void(const std::string& name)>;
void SetInputFileObserver(TInputFileObserver observer);
void NoteInputFile(const std::string& name);
