#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/control_channel.h"

namespace {

std::vector<std::string> Take(TControlChannel& channel) {
    std::vector<std::string> lines;
    TControlChannel::TLine line;
    while (channel.Next(line)) lines.push_back(line.Refusal.empty() ? line.Text : "refused: " + line.Refusal);
    return lines;
}

void Put(int fd, const std::string& bytes) { ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

} // namespace

TEST(ControlChannel, LinesAcrossReadsRefusalsAndAGoneReader) {
    int in[2], out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    TControlChannel channel(in[0], out[1]);
    EXPECT_TRUE(Take(channel).empty()); // nothing waiting: no blocking

    // A line split over two writes, a CR LF line end, a NUL inside a line,
    // and a line far longer than any command that is dropped while it comes.
    Put(in[1], "see");
    EXPECT_TRUE(Take(channel).empty());
    Put(in[1], "k 1\r\npa");
    Put(in[1], std::string("u\0se\n", 5));
    Put(in[1], std::string(3 * TControlChannel::MaxLine, 'x'));
    EXPECT_EQ(Take(channel),
              (std::vector<std::string>{"seek 1", "refused: the command holds a NUL byte; it was not run"}));
    // More than a pipe holds, in pieces the channel takes as they come.
    std::vector<std::string> taken;
    for (int i = 0; i < 16; ++i) {
        Put(in[1], std::string(TControlChannel::ReadBytes / 8, 'x'));
        for (const std::string& line : Take(channel)) taken.push_back(line);
    }
    Put(in[1], "\nquit");
    close(in[1]);
    for (const std::string& line : Take(channel)) taken.push_back(line);
    EXPECT_EQ(taken, (std::vector<std::string>{"refused: command longer than 4096 characters", "quit"}));
    EXPECT_TRUE(channel.Closed());

    EXPECT_TRUE(channel.Answer("ok 1"));
    char answer[8] = {};
    ASSERT_EQ(read(out[0], answer, sizeof answer), 5);
    EXPECT_EQ(std::string(answer), "ok 1\n");
    // A text of several lines (a shader's errors) stays one answer line.
    EXPECT_TRUE(channel.Answer("error: a.frag:3: x\n  a.frag:4: y\r\n"));
    char joined[64] = {};
    ASSERT_EQ(read(out[0], joined, sizeof joined), 33);
    EXPECT_EQ(std::string(joined), "error: a.frag:3: x | a.frag:4: y\n");
    close(out[0]); // the reader of the answers goes away
    EXPECT_FALSE(channel.Answer("ok 2"));
    EXPECT_TRUE(channel.OutputGone());
    close(in[0]);
    close(out[1]);
}
