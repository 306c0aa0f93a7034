#include "plugin/core/UserSettingsFormat.h"

#include <cryptopp/default.h>
#include <cryptopp/filters.h>

namespace parleym {

const char kUserSettingsPassphrase[] = "7E2C94B1D05A83F6C1B9E4072AD5F38C";

Bytes EncodeUserSettings(const std::vector<CUserSettings>& records) {
    BinaryWriter out;
    out.PutInt32(static_cast<std::int32_t>(records.size()));
    for (const CUserSettings& record : records) {
        out.PutString(record.signInName);
        out.PutString(record.passwordDigest);
        out.PutString(record.logsPath);
    }
    return out.Take();
}

bool DecodeUserSettings(const Bytes& plain, std::vector<CUserSettings>& records) {
    BinaryReader in(plain);
    std::int32_t count;
    const std::size_t emptyRecordSize = 3 * 4;
    if (!in.GetInt32(count) || !in.CountFits(count, emptyRecordSize)) return false;
    std::vector<CUserSettings> decoded;
    decoded.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        CUserSettings record;
        if (!in.GetString(record.signInName) || !in.GetString(record.passwordDigest) ||
            !in.GetString(record.logsPath))
            return false;
        decoded.push_back(std::move(record));
    }
    if (!in.AtEnd()) return false;
    records = std::move(decoded);
    return true;
}

namespace {

template <class Filter>
bool RunFilter(const Bytes& input, Bytes& output) {
    try {
        std::string result;
        Filter filter(kUserSettingsPassphrase, new CryptoPP::StringSink(result));
        filter.Put(input.data(), input.size());
        filter.MessageEnd();
        output.assign(result.begin(), result.end());
        return true;
    } catch (const CryptoPP::Exception&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

bool EncryptUserSettings(const Bytes& plain, Bytes& cipher) {
    return RunFilter<CryptoPP::LegacyEncryptorWithMAC>(plain, cipher);
}

bool DecryptUserSettings(const Bytes& cipher, Bytes& plain) {
    return RunFilter<CryptoPP::LegacyDecryptorWithMAC>(cipher, plain);
}

} // namespace parleym
