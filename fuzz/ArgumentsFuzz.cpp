// The arguments the server parses itself: PORT, EPRT, REST and MFMT's time.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "DataConnection/DataConnection.h"
#include "FileSystem/Listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* argument = text.c_str();  // as a handler gets it: up to the first NUL
    uint8_t numbers[6];
    ParsePortArgument(argument, numbers);
    NetAddress target;
    if (ParseEprtArgument(argument, &target) == EprtStatus::Ok && target.Port == 0) __builtin_trap();
    int64_t offset = 0;
    if (ParseRestOffset(argument, &offset) && offset < 0) __builtin_trap();
    time_t moment;
    if (ParseFactTime(argument, &moment)) {
        char again[15];
        FormatFactTime(moment, again);  // what parses must format back to the same digits
        bool leapSecond = text.compare(12, 2, "60") == 0;  // formats as the next minute's first second
        if (text.compare(0, 14, again) != 0 && moment >= 0 && !leapSecond) __builtin_trap();
    }
    ParseFactNames(argument);
    return 0;
}
