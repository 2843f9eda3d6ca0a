#include "DataConnection/AsciiMode.h"

size_t ToNetworkAscii(const char* in, size_t length, char* out, bool* lastWasCr) {
    size_t used = 0;
    bool cr = *lastWasCr;
    for (size_t i = 0; i < length; ++i) {
        char c = in[i];
        if (c == '\n' && !cr) out[used++] = '\r';
        out[used++] = c;
        cr = c == '\r';
    }
    *lastWasCr = cr;
    return used;
}

size_t FromNetworkAscii(const char* in, size_t length, char* out, bool* pendingCr) {
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        char c = in[i];
        if (*pendingCr) {
            *pendingCr = false;
            if (c != '\n') out[used++] = '\r';  // a CR of its own stays
        }
        if (c == '\r') *pendingCr = true;
        else out[used++] = c;
    }
    return used;
}
