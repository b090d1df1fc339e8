// corvala-tracker: tracker files from modules, MIDI files and recordings.
#include "tool.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunTrackerTool(args, std::cout, std::cerr);
}
