// What arrives on a control connection, as command lines: Telnet controls
// taken out, bytes gathered into lines, lines that arrive during a transfer
// kept for after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Connection/CommandTable.h"

// Where a Telnet command sequence stands between two receives.
enum class TelnetState : uint8_t { Data, Command, Option, Subnegotiation, SubnegotiationCommand };

// Takes Telnet command sequences (IAC ...) out of received bytes in place and
// returns how many bytes are left: IAC IAC is a literal 0xFF byte; IAC with
// WILL, WONT, DO or DONT drops three bytes; a subnegotiation is dropped up to
// its IAC SE; any other IAC x (such as interrupt process or data mark) drops two.
size_t StripTelnet(TelnetState& state, char* bytes, size_t length);

enum class LineStatus : uint8_t { Line, TooLong, NeedMore };

struct ControlInput {
    char Buffer[2 * (CommandLineLimit + 2)];
    size_t Start = 0;         // the first byte not yet taken
    size_t Held = 0;          // bytes in Buffer
    bool Discarding = false;  // inside a line too long to run
    TelnetState Telnet = TelnetState::Data;
    // Lines read while a transfer ran, to run once it ends, in order; a line
    // too long to run is kept empty with TooLong set.
    struct Deferred {
        std::string Text;
        bool TooLong;
    };
    std::vector<Deferred> Later;
    size_t LaterBytes = 0;

    // Room for the next receive.
    char* Free() { return Buffer + Held; }
    size_t FreeSize() const { return sizeof Buffer - Held; }
    // Counts bytes just received into Free(), without their Telnet controls.
    void Received(size_t count) { Held += StripTelnet(Telnet, Buffer + Held, count); }
};

// Takes the next complete line (ended by LF, an optional CR before it not
// included) from what was received: Line with *line pointing into the buffer
// until the next call; TooLong once for a line over the limit, whose bytes
// are then dropped up to its end; NeedMore when no complete line is held.
LineStatus TakeLine(ControlInput& input, std::string_view* line);
