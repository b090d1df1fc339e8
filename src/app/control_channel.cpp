#include "app/control_channel.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

TControlChannel::TControlChannel(int input, int output) : inputFd(input), outputFd(output) {
    // A write to a closed pipe must fail with EPIPE, not end the engine.
    signal(SIGPIPE, SIG_IGN);
}

bool TControlChannel::Closed() const { return outputGone || (inputEnded && offset >= buffer.size()); }

bool TControlChannel::Next(TLine& line) {
    if (outputGone) return false;
    if (TakeBuffered(line)) return true;
    ReadMore();
    if (TakeBuffered(line)) return true;
    // The input ended inside a line: that line counts as a whole one.
    if (inputEnded && offset < buffer.size()) {
        line = TLine{};
        if (discarding)
            line.Refusal = "command longer than " + std::to_string(MaxLine) + " characters";
        else
            line.Text = buffer.substr(offset);
        buffer.clear();
        offset = 0;
        discarding = false;
        if (line.Text.find('\0') != std::string::npos) {
            line.Text.clear();
            line.Refusal = "the command holds a NUL byte; it was not run";
        }
        return true;
    }
    return false;
}

bool TControlChannel::TakeBuffered(TLine& line) {
    for (;;) {
        const size_t end = buffer.find('\n', offset);
        if (end == std::string::npos) {
            // A line longer than any command: keep only that it was too long.
            if (buffer.size() - offset > MaxLine) {
                discarding = true;
                buffer.clear();
                offset = 0;
            }
            return false;
        }
        line = TLine{};
        if (discarding) {
            line.Refusal = "command longer than " + std::to_string(MaxLine) + " characters";
        } else if (end - offset > MaxLine) {
            line.Refusal = "command longer than " + std::to_string(MaxLine) + " characters";
        } else {
            line.Text.assign(buffer, offset, end - offset);
            if (!line.Text.empty() && line.Text.back() == '\r') line.Text.pop_back();
            if (line.Text.find('\0') != std::string::npos) {
                line.Text.clear();
                line.Refusal = "the command holds a NUL byte; it was not run";
            }
        }
        discarding = false;
        offset = end + 1;
        return true;
    }
}

void TControlChannel::ReadMore() {
    if (inputEnded) return;
    pollfd descriptor{inputFd, POLLIN, 0};
    if (poll(&descriptor, 1, 0) <= 0) return;
    // Only what is left of a partial line is kept before reading on.
    buffer.erase(0, offset);
    offset = 0;
    const size_t kept = buffer.size();
    buffer.resize(kept + ReadBytes);
    const ssize_t got = read(inputFd, buffer.data() + kept, ReadBytes);
    buffer.resize(kept + size_t(got > 0 ? got : 0));
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // End of input (or an error): nothing more will arrive.
    if (got <= 0) inputEnded = true;
}

bool TControlChannel::Answer(const std::string& text) {
    if (outputGone) return false;
    // Whatever else went to standard output through stdio goes first.
    if (outputFd == STDOUT_FILENO) std::fflush(stdout);
    // A text of several lines (a shader's errors, one a line) stays one
    // answer: its lines are joined by " | ", their indentation dropped.
    std::string out;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        size_t from = at;
        while (from < end && (text[from] == ' ' || text[from] == '\t' || text[from] == '\r')) ++from;
        size_t to = end;
        while (to > from && text[to - 1] == '\r') --to;
        if (to > from) out += (out.empty() ? "" : " | ") + text.substr(from, to - from);
        at = end + 1;
    }
    out += "\n";
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t wrote = write(outputFd, out.data() + done, out.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            outputGone = true;
            return false;
        }
        done += size_t(wrote);
    }
    return true;
}
