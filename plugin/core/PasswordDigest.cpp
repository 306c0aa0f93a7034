#include "plugin/core/PasswordDigest.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>
#include <cryptopp/misc.h>

namespace parleym {

struct Md5Hex::State {
    CryptoPP::Weak::MD5 hash;
};

Md5Hex::Md5Hex() : state_(new State) {}
Md5Hex::~Md5Hex() = default;

void Md5Hex::Update(const void* data, std::size_t size) {
    state_->hash.Update(static_cast<const CryptoPP::byte*>(data), size);
}

std::string Md5Hex::Final() {
    CryptoPP::byte raw[CryptoPP::Weak::MD5::DIGESTSIZE];
    state_->hash.Final(raw);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(sizeof raw * 2);
    for (CryptoPP::byte b : raw) {
        text.push_back(hex[b >> 4]);
        text.push_back(hex[b & 0x0F]);
    }
    CryptoPP::SecureWipeArray(raw, sizeof raw);
    return text;
}

std::string MakePasswordDigest(const std::string& password) {
    Md5Hex md5;
    md5.Update(password.data(), password.size());
    return md5.Final();
}

const std::string& NoPasswordDigest() {
    static const std::string digest = MakePasswordDigest(std::string());
    return digest;
}

bool IsWellFormedDigest(const std::string& digest) {
    if (digest.size() != 32) return false;
    for (char c : digest)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

} // namespace parleym
