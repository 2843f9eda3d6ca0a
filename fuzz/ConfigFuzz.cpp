// The configuration file: any bytes load or are refused, without a crash, a
// leak or a value past its field.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/Config.h"
#include "core/Records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return 0;
    EmptyTables();
    if (LoadConfigFrom(file)) {
        for (int i = 0; i < ServerCount; ++i)
            if (std::strlen(Server[i]->WelcomeText) >= sizeof Server[i]->WelcomeText) __builtin_trap();
        for (int i = 0; i < UserCount; ++i)
            if (User[i]->DirectoryCount < 0 || User[i]->DirectoryCount > DirectoryCapacity) __builtin_trap();
    } else if (ServerCount != 0 || UserCount != 0) {
        __builtin_trap();  // nothing stays loaded after a refusal
    }
    std::fclose(file);
    EmptyTables();
    return 0;
}
