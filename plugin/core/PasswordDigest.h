#pragma once
// MD5 digests rendered as 32 lower-case hex characters, high nibble first: the
// form of password digests and of the object cache's content digests.
#include <cstddef>
#include <memory>
#include <string>

namespace parleym {

class Md5Hex {
public:
    Md5Hex();
    ~Md5Hex();
    Md5Hex(const Md5Hex&) = delete;
    Md5Hex& operator=(const Md5Hex&) = delete;

    void Update(const void* data, std::size_t size);
    // Returns the digest and starts over; the raw digest bytes are wiped.
    std::string Final();

private:
    struct State;
    std::unique_ptr<State> state_;
};

std::string MakePasswordDigest(const std::string& password);

// The digest of the empty password: an account with this digest has no password.
const std::string& NoPasswordDigest();

// 32 lower-case hex characters: anything else can match no password at all.
bool IsWellFormedDigest(const std::string& digest);

} // namespace parleym
