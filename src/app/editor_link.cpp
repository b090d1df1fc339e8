#include "app/editor_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "demo/position.h"

namespace {

constexpr char DemoGreeting[] = "hello, synctracker!"; // 19 bytes, no terminator sent
constexpr char EditorGreeting[] = "hello, demo!";      // 12 bytes
constexpr size_t DemoGreetingSize = sizeof DemoGreeting - 1;
constexpr size_t EditorGreetingSize = sizeof EditorGreeting - 1;

enum : uint8_t { SetKey = 0, DeleteKey = 1, GetTrack = 2, SetRow = 3, Pause = 4, SaveCommand = 5 };

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint32_t ReadU32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

} // namespace

bool ParseEditorAddress(const std::string& text, std::string& host, uint16_t& port, std::string& error) {
    const size_t colon = text.rfind(':');
    const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    bool digits = !portText.empty() && portText.size() <= 5;
    for (char c : portText) digits = digits && c >= '0' && c <= '9';
    const long number = digits ? std::strtol(portText.c_str(), nullptr, 10) : 0;
    if (!digits || number < 1 || number > 65535 || host.empty()) {
        error = "'" + text + "' is not an editor address: give [HOST:]PORT (127.0.0.1:1338)";
        return false;
    }
    port = uint16_t(number);
    return true;
}

TEditorLink::TEditorLink(std::string linkHost, uint16_t linkPort) : host(std::move(linkHost)), port(linkPort) {}

TEditorLink::~TEditorLink() {
    if (socket >= 0) ::close(socket);
}

void TEditorLink::StartConnect() {
    nextTry = SteadySeconds() + ReconnectSeconds;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0 || !found) {
        if (!announced)
            std::fprintf(stderr, "corvala: editor: cannot find %s (%s); trying every %g s\n", host.c_str(),
                         gai_strerror(status), ReconnectSeconds);
        announced = true;
        return;
    }
    socket = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
    if (socket >= 0) {
        const int one = 1;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(socket, found->ai_addr, found->ai_addrlen) == 0 || errno == EINPROGRESS) {
            state = TState::Connecting;
        } else {
            Close(std::strerror(errno));
        }
    }
    freeaddrinfo(found);
}

void TEditorLink::Close(const std::string& message) {
    if (socket >= 0) ::close(socket);
    socket = -1;
    const bool wasLinked = state == TState::Linked || state == TState::Greeting;
    state = TState::Idle;
    in.clear();
    out.clear();
    nextTry = SteadySeconds() + ReconnectSeconds;
    // One line when a link is lost, one when none can be made; none per try.
    if (wasLinked) {
        std::fprintf(stderr,
                     "corvala: editor: the link to %s closed: %s; the demo plays on and tries again every %g s\n",
                     Address().c_str(), message.c_str(), ReconnectSeconds);
        announced = true;
    } else if (!announced) {
        std::fprintf(stderr, "corvala: editor: no editor at %s (%s); trying every %g s\n", Address().c_str(),
                     message.c_str(), ReconnectSeconds);
        announced = true;
    }
}

bool TEditorLink::Flush() {
    while (!out.empty()) {
        const ssize_t sent = ::send(socket, out.data(), out.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
            Close(std::strerror(errno));
            return false;
        }
        out.erase(out.begin(), out.begin() + sent);
    }
    return true;
}

void TEditorLink::Receive() {
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got > 0) {
            in.insert(in.end(), buffer, buffer + got);
            // Messages are at most 14 bytes; a flood is handled in later frames.
            if (in.size() > (1u << 20)) return;
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        Close(got == 0 ? "the editor closed it" : std::strerror(errno));
        return;
    }
}

void TEditorLink::BeginLinked(TTracks& tracks) {
    state = TState::Linked;
    announced = false;
    std::fprintf(stderr, "corvala: editor: linked to %s; its keys play now\n", Address().c_str());
    // Keys travel only from the editor: ours are forgotten and each track
    // is asked for, in order.
    keyedInFile.clear();
    keyedByEditor.clear();
    requested.clear();
    for (TTrack& track : tracks.Tracks) {
        if (!track.Keys.empty()) keyedInFile.insert(track.Name);
        track.Keys.clear();
    }
    tracks.Edited = true;
    RequestNewTracks(tracks);
    keysDue = SteadySeconds() + KeysWaitSeconds;
    keysChecked = false;
    lastRow = -1;
}

void TEditorLink::RequestNewTracks(TTracks& tracks) {
    for (const TTrack& track : tracks.Tracks) {
        if (std::find(requested.begin(), requested.end(), track.Name) != requested.end()) continue;
        requested.push_back(track.Name);
        out.push_back(GetTrack);
        PutU32(out, uint32_t(track.Name.size()));
        out.insert(out.end(), track.Name.begin(), track.Name.end());
    }
}

bool TEditorLink::Handle(TTracks& tracks, TEditorRequests& requests) {
    size_t at = 0;
    auto fail = [&](const std::string& message) {
        Close("protocol error: " + message);
        return false;
    };
    while (at < in.size()) {
        const uint8_t* m = in.data() + at;
        const size_t left = in.size() - at;
        size_t size = 0;
        switch (m[0]) {
        case SetKey:
            size = 14;
            break;
        case DeleteKey:
            size = 9;
            break;
        case SetRow:
            size = 5;
            break;
        case Pause:
            size = 2;
            break;
        case SaveCommand:
            size = 1;
            break;
        default:
            return fail("unknown command byte " + std::to_string(m[0]));
        }
        if (left < size) break; // the rest comes with a later read
        at += size;
        if (m[0] == SetKey || m[0] == DeleteKey) {
            const uint32_t index = ReadU32(m + 1);
            const uint32_t row = ReadU32(m + 5);
            if (index >= requested.size())
                return fail("track index " + std::to_string(index) + " past the " + std::to_string(requested.size()) +
                            " tracks asked for");
            if (row > uint32_t(INT32_MAX)) return fail("row " + std::to_string(row) + " out of range");
            TTrack* track = tracks.Find(requested[index]);
            if (m[0] == DeleteKey) {
                if (track && track->DeleteKey(int32_t(row))) tracks.Edited = true;
                continue;
            }
            const uint32_t bits = ReadU32(m + 9);
            float value = 0;
            std::memcpy(&value, &bits, sizeof value);
            if (m[13] > 3) return fail("interpolation " + std::to_string(m[13]) + " (0 to 3)");
            if (!std::isfinite(value)) {
                std::fprintf(stderr, "corvala: editor: key of %s at %s is not a finite number; left out\n",
                             requested[index].c_str(), RowPositionText(int32_t(row)).c_str());
                continue;
            }
            if (!track) continue; // a reload dropped it
            track->SetKey({int32_t(row), value, TKeyType(m[13]), 0});
            tracks.Edited = true;
            keyedByEditor.insert(track->Name);
        } else if (m[0] == SetRow) {
            const uint32_t row = ReadU32(m + 1);
            if (row > uint32_t(INT32_MAX)) return fail("row " + std::to_string(row) + " out of range");
            requests.SeekRow = int32_t(row);
            lastRow = row; // not sent back
        } else if (m[0] == Pause) {
            requests.Pause = m[1] != 0;
        } else {
            requests.Save = true;
        }
    }
    in.erase(in.begin(), in.begin() + std::ptrdiff_t(at));
    return true;
}

void TEditorLink::WarnMissingKeys(const TTracks& tracks) {
    keysChecked = true;
    std::string names;
    int count = 0;
    for (const std::string& name : keyedInFile) {
        if (keyedByEditor.count(name) || !tracks.Find(name)) continue;
        names += (count++ == 0 ? "" : ", ") + name;
    }
    if (count == 0) return;
    std::fprintf(stderr,
                 "corvala: editor: the editor sent no keys for %d track%s the tracks file has keys for (%s); "
                 "they play empty. Open the project exported from the tracks file (docs/tracks.md)\n",
                 count, count == 1 ? "" : "s", names.c_str());
}

void TEditorLink::Poll(TTracks& tracks, int32_t row, bool playing, TEditorRequests& requests) {
    if (state == TState::Idle) {
        if (SteadySeconds() < nextTry) return;
        StartConnect();
        if (state == TState::Idle) return;
    }
    if (state == TState::Connecting) {
        pollfd descriptor{socket, POLLOUT, 0};
        if (::poll(&descriptor, 1, 0) <= 0) return;
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) return Close(std::strerror(error));
        state = TState::Greeting;
        out.assign(DemoGreeting, DemoGreeting + DemoGreetingSize);
    }
    if (!Flush()) return;
    Receive();
    if (state == TState::Idle) return;
    if (state == TState::Greeting) {
        if (in.size() < EditorGreetingSize) return;
        if (std::memcmp(in.data(), EditorGreeting, EditorGreetingSize) != 0)
            return Close("it did not answer with the editor's greeting");
        in.erase(in.begin(), in.begin() + EditorGreetingSize);
        BeginLinked(tracks);
    }
    RequestNewTracks(tracks);
    if (!Handle(tracks, requests)) return;
    if (playing && row >= 0 && row != lastRow && !requests.SeekRow) {
        out.push_back(SetRow);
        PutU32(out, uint32_t(row));
    }
    if (row >= 0) lastRow = requests.SeekRow ? *requests.SeekRow : row;
    if (!keysChecked && SteadySeconds() >= keysDue) WarnMissingKeys(tracks);
    Flush();
}
