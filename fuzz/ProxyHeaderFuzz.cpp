// PROXY protocol headers and trusted address blocks: whatever arrives, a
// complete header is no longer than what arrived nor than the protocol
// allows, reads the same without what follows it, and every shorter prefix of
// it asks for more (the connection reads a header a byte at a time).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/ProxyProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ProxyHeader header = ParseProxyHeader(bytes);
    bool complete = header.Status == ProxyHeaderStatus::Proxied || header.Status == ProxyHeaderStatus::Local;
    if (complete != (header.Length != 0) || header.Length > size || header.Length > ProxyHeaderLimit) __builtin_trap();
    if (complete && ParseProxyHeader(bytes.substr(0, header.Length)).Status != header.Status) __builtin_trap();
    for (size_t prefix = 0; complete && prefix < header.Length; ++prefix)
        if (ParseProxyHeader(bytes.substr(0, prefix)).Status != ProxyHeaderStatus::NeedMore) __builtin_trap();
    std::vector<AddressBlock> blocks;
    if (ParseAddressBlocks(bytes, &blocks)) InAddressBlocks(header.Source, blocks);
    return 0;
}
