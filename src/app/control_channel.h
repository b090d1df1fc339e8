// Dev mode's control channel: command lines arrive on one file descriptor
// (standard input), one answer line per command goes out on another
// (standard output).
//
// The backlog is bounded: more input is read only once every line already
// read has been taken, at most ReadBytes at a time, and a line is taken in
// time independent of the backlog. A reader of the answers that goes away
// closes the channel (SIGPIPE is ignored) instead of ending the engine.
#pragma once

#include <cstddef>
#include <string>

class TControlChannel {
public:
    static constexpr size_t MaxLine = 4096;    // longer command lines are refused whole
    static constexpr size_t ReadBytes = 65536; // one read's worth of input

    TControlChannel(int input, int output);

    // One command line: its text without the line end, or a refusal
    // ("command longer than 4096 characters", a NUL byte) to answer with.
    struct TLine {
        std::string Text;
        std::string Refusal;
    };
    // Takes the next whole line; reads what is waiting (never blocking) when
    // none is buffered. False when no line is there now.
    bool Next(TLine& line);
    // Writes one answer line; a text of several lines is joined into one
    // by " | ", so that every command keeps exactly one answer. False, and
    // the channel closed, once the reader of the answers has gone.
    bool Answer(const std::string& text);

    // Nothing more can arrive and every line read has been taken, or the
    // answers' reader went away: the channel is of no more use.
    bool Closed() const;
    bool OutputGone() const { return outputGone; }

private:
    bool TakeBuffered(TLine& line);
    void ReadMore();

    int inputFd;
    int outputFd;
    std::string buffer; // bytes read, lines from `offset` on not yet taken
    size_t offset = 0;
    bool discarding = false; // inside a line too long to keep: its rest is dropped
    bool inputEnded = false;
    bool outputGone = false;
};
