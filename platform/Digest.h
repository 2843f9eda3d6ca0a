// File digests for HASH and the X... checksum commands: SHA-256, SHA-512,
// SHA-1 and MD5 by OpenSSL's EVP, CRC-32 by zlib. A build without one of
// those libraries has no such digest: DigestAvailable() says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class DigestKind : uint8_t { Sha256, Sha512, Sha1, Md5, Crc32 };

bool DigestAvailable(DigestKind kind);

// One running digest: feed it bytes, then take its value as lower-case hex.
class Digest {
public:
    explicit Digest(DigestKind kind);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Update(const void* bytes, size_t length);
    std::string Hex();  // once, at the end

private:
    DigestKind kind_;
    void* context_ = nullptr;  // OpenSSL's, for every kind but CRC-32
    uint32_t crc_ = 0;
};
