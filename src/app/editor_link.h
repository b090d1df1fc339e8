// The live link to a sync-tracker editor (dev mode, --editor): a TCP client
// that speaks the editors' binary protocol without ever blocking a frame.
//
// On connecting it sends the greeting, waits for the editor's, forgets every
// key it has and asks for each track in order (the editor then sends that
// track's keys; the order of the requests numbers the tracks in later
// messages). From then on the editor's keys are the ones played: it sets and
// deletes keys, moves the row (a seek), pauses and plays, and asks for a
// save; the demo sends its row whenever the whole row changes while it
// plays. All numbers are big-endian. A malformed message closes the link
// with a message; a link that cannot be made or is lost is tried again every
// ReconnectSeconds, with one line on stderr rather than one per try.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "demo/tracks.h"

// "PORT" or "HOST:PORT" (127.0.0.1 when the host is left out); false with
// the reason in `error`.
bool ParseEditorAddress(const std::string& text, std::string& host, uint16_t& port, std::string& error);

// What the editor asked the demo to do in one Poll.
struct TEditorRequests {
    std::optional<int32_t> SeekRow; // SET_ROW
    std::optional<bool> Pause;      // PAUSE: true pauses, false plays
    bool Save = false;              // SAVE_TRACKS
};

class TEditorLink {
public:
    static constexpr double ReconnectSeconds = 2.0;
    // Seconds after the requests within which the editor should have sent
    // the keys of tracks the file has keys for (else a warning names them).
    static constexpr double KeysWaitSeconds = 1.0;

    TEditorLink(std::string host, uint16_t port);
    ~TEditorLink();
    TEditorLink(const TEditorLink&) = delete;
    TEditorLink& operator=(const TEditorLink&) = delete;

    // Once a frame: connects when due, sends what waits, reads and applies
    // every whole message (keys go straight into `tracks`), and sends `row`
    // when it changed while `playing`. Never blocks.
    void Poll(TTracks& tracks, int32_t row, bool playing, TEditorRequests& requests);

    bool Connected() const { return state == TState::Linked; }
    std::string Address() const { return host + ":" + std::to_string(port); }

private:
    enum class TState { Idle, Connecting, Greeting, Linked };

    void StartConnect();
    void Close(const std::string& message);
    bool Flush();
    void Receive();
    // False when the link was closed for a protocol error.
    bool Handle(TTracks& tracks, TEditorRequests& requests);
    void BeginLinked(TTracks& tracks);
    void RequestNewTracks(TTracks& tracks);
    void WarnMissingKeys(const TTracks& tracks);

    std::string host;
    uint16_t port = 0;
    int socket = -1;
    TState state = TState::Idle;
    double nextTry = 0;     // steady seconds
    bool announced = false; // the "not there" line was said since the last link
    std::vector<uint8_t> in, out;
    std::vector<std::string> requested; // track names in the order asked for
    int64_t lastRow = -1;
    // Warning about tracks the editor sent no keys for.
    std::set<std::string> keyedInFile, keyedByEditor;
    double keysDue = 0;
    bool keysChecked = true;
};
