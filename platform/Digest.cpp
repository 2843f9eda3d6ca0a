#include "platform/Digest.h"

#ifdef VOSTRINE_WITH_TLS
#include <openssl/evp.h>
#endif
#ifdef VOSTRINE_WITH_ZLIB
#include <zlib.h>
#endif

namespace {

#ifdef VOSTRINE_WITH_TLS
const EVP_MD* Algorithm(DigestKind kind) {
    switch (kind) {
        case DigestKind::Sha256: return EVP_sha256();
        case DigestKind::Sha512: return EVP_sha512();
        case DigestKind::Sha1: return EVP_sha1();
        case DigestKind::Md5: return EVP_md5();
        case DigestKind::Crc32: break;
    }
    return nullptr;
}
#endif

std::string HexOf(const unsigned char* bytes, size_t length) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex += Digits[bytes[i] >> 4];
        hex += Digits[bytes[i] & 15];
    }
    return hex;
}

}  // namespace

bool DigestAvailable(DigestKind kind) {
#ifdef VOSTRINE_WITH_ZLIB
    if (kind == DigestKind::Crc32) return true;
#endif
#ifdef VOSTRINE_WITH_TLS
    if (kind != DigestKind::Crc32) return true;
#endif
    return false;
}

Digest::Digest(DigestKind kind) : kind_(kind) {
#ifdef VOSTRINE_WITH_TLS
    if (kind != DigestKind::Crc32) {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        if (context != nullptr && EVP_DigestInit_ex(context, Algorithm(kind), nullptr) == 1) context_ = context;
        else EVP_MD_CTX_free(context);
    }
#endif
}

Digest::~Digest() {
#ifdef VOSTRINE_WITH_TLS
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
#endif
}

void Digest::Update(const void* bytes, size_t length) {
#ifdef VOSTRINE_WITH_ZLIB
    if (kind_ == DigestKind::Crc32) {
        // zlib takes at most 4 GiB a call.
        const Bytef* next = static_cast<const Bytef*>(bytes);
        for (size_t step; length > 0; next += step, length -= step) {
            step = length < (1u << 30) ? length : (1u << 30);
            crc_ = static_cast<uint32_t>(crc32(crc_, next, static_cast<uInt>(step)));
        }
        return;
    }
#endif
#ifdef VOSTRINE_WITH_TLS
    if (context_ != nullptr) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes, length);
#endif
    (void)bytes;
    (void)length;
}

std::string Digest::Hex() {
    if (kind_ == DigestKind::Crc32) {
        unsigned char bytes[4] = {static_cast<unsigned char>(crc_ >> 24), static_cast<unsigned char>(crc_ >> 16),
                                  static_cast<unsigned char>(crc_ >> 8), static_cast<unsigned char>(crc_)};
        return HexOf(bytes, sizeof bytes);
    }
#ifdef VOSTRINE_WITH_TLS
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (context_ != nullptr && EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), value, &length) == 1)
        return HexOf(value, length);
#endif
    return {};
}
