// Bytes as a client sends them on the control connection: Telnet controls
// taken out, lines framed, each cut into keyword and argument and looked up.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Connection/CommandTable.h"
#include "Connection/ControlInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ControlInput input;
    while (size > 0) {
        size_t piece = size < input.FreeSize() ? size : input.FreeSize();
        if (piece > 97) piece = 97;  // receives of odd sizes, as a network delivers them
        std::memcpy(input.Free(), data, piece);
        input.Received(piece);
        data += piece;
        size -= piece;
        std::string_view line;
        LineStatus status;
        while ((status = TakeLine(input, &line)) != LineStatus::NeedMore) {
            if (status != LineStatus::Line) continue;
            if (line.size() > CommandLineLimit || line.find('\n') != std::string_view::npos) __builtin_trap();
            CommandLine command = ParseCommandLine(line);
            if (std::strlen(command.Keyword) >= KeywordSize) __builtin_trap();
            FindCommand(command.Keyword, true, true);
        }
        if (input.Held > sizeof input.Buffer) __builtin_trap();
    }
    return 0;
}
