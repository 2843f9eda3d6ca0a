#include "Connection/ControlInput.h"

#include <cstring>

namespace {

constexpr unsigned char IAC = 255, SE = 240, SB = 250, WILL = 251, DONT = 254;

}  // namespace

size_t StripTelnet(TelnetState& state, char* bytes, size_t length) {
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (state) {
            case TelnetState::Data:
                if (c == IAC) state = TelnetState::Command;
                else bytes[kept++] = static_cast<char>(c);
                break;
            case TelnetState::Command:
                if (c == IAC) {
                    bytes[kept++] = static_cast<char>(c);  // an escaped 0xFF
                    state = TelnetState::Data;
                } else if (c >= WILL && c <= DONT) {
                    state = TelnetState::Option;
                } else if (c == SB) {
                    state = TelnetState::Subnegotiation;
                } else {
                    state = TelnetState::Data;  // IP, DM, AO and the like: two bytes
                }
                break;
            case TelnetState::Option: state = TelnetState::Data; break;
            case TelnetState::Subnegotiation:
                if (c == IAC) state = TelnetState::SubnegotiationCommand;
                break;
            case TelnetState::SubnegotiationCommand:
                state = c == SE ? TelnetState::Data : TelnetState::Subnegotiation;
                break;
        }
    }
    return kept;
}

LineStatus TakeLine(ControlInput& input, std::string_view* line) {
    for (;;) {
        const char* begin = input.Buffer + input.Start;
        const char* end = static_cast<const char*>(std::memchr(begin, '\n', input.Held - input.Start));
        if (end == nullptr) break;
        size_t length = static_cast<size_t>(end - begin);
        input.Start += length + 1;
        if (length > 0 && begin[length - 1] == '\r') --length;
        if (input.Discarding) {  // the end of a line already refused
            input.Discarding = false;
            continue;
        }
        if (length > CommandLineLimit) return LineStatus::TooLong;
        *line = std::string_view(begin, length);
        return LineStatus::Line;
    }
    std::memmove(input.Buffer, input.Buffer + input.Start, input.Held - input.Start);
    input.Held -= input.Start;
    input.Start = 0;
    // SECURITY: an unfinished line may not outgrow the limit; it is refused
    // now and its bytes are dropped up to its line end.
    size_t pending = input.Held > 0 && input.Buffer[input.Held - 1] == '\r' ? input.Held - 1 : input.Held;
    bool refuse = !input.Discarding && pending > CommandLineLimit;
    if (refuse) input.Discarding = true;
    if (input.Discarding) input.Held = 0;
    return refuse ? LineStatus::TooLong : LineStatus::NeedMore;
}
