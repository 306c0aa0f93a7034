#pragma once
// The users.dat content: a count and the account records, encrypted as a whole
// with a fixed pass phrase in the DES-EDE2/SHA-1 "encryptor with MAC" format.
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

namespace parleym {

struct CUserSettings {
    std::string signInName;     // key, compared byte for byte
    std::string passwordDigest; // NoPasswordDigest() when the account has no password
    std::string logsPath;       // empty: the default logs.dat in the data folder
};

extern const char kUserSettingsPassphrase[];

Bytes EncodeUserSettings(const std::vector<CUserSettings>& records);

// Strict: a count the data cannot hold, a bad length or bytes after the last
// record make the whole content invalid. On failure `records` is untouched.
bool DecodeUserSettings(const Bytes& plain, std::vector<CUserSettings>& records);

// Throws nothing; false on any cryptographic failure.
bool EncryptUserSettings(const Bytes& plain, Bytes& cipher);
// False on a wrong pass phrase, a bad MAC or damaged data.
bool DecryptUserSettings(const Bytes& cipher, Bytes& plain);

} // namespace parleym
