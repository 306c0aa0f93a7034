#include <gtest/gtest.h>

#include <cryptopp/default.h>
#include <cryptopp/filters.h>

#include "plugin/core/PasswordDigest.h"
#include "plugin/core/UserSettingsFormat.h"

using namespace parleym;

namespace {

// Builds a users.dat the way any program holding the pass phrase would, without
// the product's encoder.
Bytes IndependentFile(const std::string& plain, const char* passphrase = kUserSettingsPassphrase) {
    std::string cipher;
    CryptoPP::LegacyEncryptorWithMAC enc(passphrase, new CryptoPP::StringSink(cipher));
    enc.Put(reinterpret_cast<const CryptoPP::byte*>(plain.data()), plain.size());
    enc.MessageEnd();
    return Bytes(cipher.begin(), cipher.end());
}

std::string Le32(std::int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

std::string Str(const std::string& v) { return Le32(static_cast<std::int32_t>(v.size())) + v; }

bool DecodeFile(const Bytes& cipher, std::vector<CUserSettings>& records) {
    Bytes plain;
    return DecryptUserSettings(cipher, plain) && DecodeUserSettings(plain, records);
}

} // namespace

TEST(PasswordDigest, IsLowerCaseHexMd5OfTheAnsiBytes) {
    EXPECT_EQ(NoPasswordDigest(), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MakePasswordDigest("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_NE(MakePasswordDigest("Secret"), MakePasswordDigest("secret"));
    EXPECT_EQ(MakePasswordDigest("\xE9t\xE9"), "70b06e3087350c8c4fc3f13e741879f3");
}

TEST(PasswordDigest, IncrementalEqualsOneShot) {
    std::string data(5000, 'x');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    Md5Hex md5;
    for (std::size_t at = 0; at < data.size(); at += 2048) md5.Update(data.data() + at, std::min<std::size_t>(2048, data.size() - at));
    EXPECT_EQ(md5.Final(), MakePasswordDigest(data));
    EXPECT_EQ(md5.Final(), NoPasswordDigest()) << "Final starts over";
}

TEST(UserSettingsFormat, LayoutIsCountThenLengthPrefixedStrings) {
    const Bytes plain = EncodeUserSettings({{"me@x.com", "d41d", ""}});
    const std::string expected = Le32(1) + Str("me@x.com") + Str("d41d") + Le32(0);
    EXPECT_EQ(std::string(plain.begin(), plain.end()), expected);
}

TEST(UserSettingsFormat, IndependentlyWrittenFileReadsBackInOrder) {
    const std::string plain = Le32(4) + Str("user@example.com") + Str(NoPasswordDigest()) + Str("") +
                              Str("User@Example.com") + Str(MakePasswordDigest("pw")) + Str("D:\\logs\\mine.dat") +
                              Str("") + Str("") + Str("") + Str("third@x.net") + Str("abc") + Str("C:\\a b\\c.dat");
    std::vector<CUserSettings> records;
    ASSERT_TRUE(DecodeFile(IndependentFile(plain), records));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].signInName, "user@example.com");
    EXPECT_EQ(records[1].signInName, "User@Example.com");
    EXPECT_EQ(records[1].passwordDigest, MakePasswordDigest("pw"));
    EXPECT_EQ(records[1].logsPath, "D:\\logs\\mine.dat");
    EXPECT_EQ(records[2].signInName, "");
    EXPECT_EQ(records[3].logsPath, "C:\\a b\\c.dat");
}

TEST(UserSettingsFormat, EncryptedFileIsReadableByAnyLegacyDecryptor) {
    Bytes cipher;
    ASSERT_TRUE(EncryptUserSettings(EncodeUserSettings({{"a", "b", "c"}}), cipher));
    std::string plain;
    CryptoPP::LegacyDecryptorWithMAC dec(kUserSettingsPassphrase, new CryptoPP::StringSink(plain));
    dec.Put(cipher.data(), cipher.size());
    dec.MessageEnd();
    EXPECT_EQ(plain, Le32(1) + Str("a") + Str("b") + Str("c"));
}

TEST(UserSettingsFormat, DamagedContentIsInvalidAndLeavesTheListAlone) {
    const std::vector<CUserSettings> before = {{"kept", "d", "p"}};
    const std::string cases[] = {
        "",                                             // no count
        Le32(3) + Str("a") + Str("b") + Str("c"),       // count larger than the records
        Le32(0x7FFFFFFF),                               // absurd count, nothing behind it
        Le32(-1),                                       // negative count
        Le32(1) + Le32(-5) + "abc",                     // negative length
        Le32(1) + Le32(0x40000000) + "abc",             // length past the end
        Le32(1) + Str("a") + Str("b"),                  // record cut short
        Le32(1) + Str("a") + Str("b") + Str("c") + "x", // bytes after the last record
    };
    for (const std::string& plain : cases) {
        std::vector<CUserSettings> records = before;
        EXPECT_FALSE(DecodeFile(IndependentFile(plain), records)) << plain.size();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].signInName, "kept");
    }
}

TEST(UserSettingsFormat, WrongPassphraseOrDamagedCipherIsRejected) {
    const std::string plain = Le32(1) + Str("a") + Str("b") + Str("c");
    std::vector<CUserSettings> records;
    EXPECT_FALSE(DecodeFile(IndependentFile(plain, "0000000000000000000000000000000"), records));

    Bytes cipher = IndependentFile(plain);
    for (std::size_t i = 0; i < cipher.size(); i += 3) {
        Bytes flipped = cipher;
        flipped[i] ^= 0x20;
        EXPECT_FALSE(DecodeFile(flipped, records)) << "flipped byte " << i;
    }
    EXPECT_FALSE(DecodeFile(Bytes(cipher.begin(), cipher.begin() + cipher.size() / 2), records));
    EXPECT_FALSE(DecodeFile(Bytes(), records));
    EXPECT_TRUE(records.empty());
}

TEST(UserSettingsFormat, FreshInstallationFileHoldsACountOfZero) {
    Bytes cipher;
    ASSERT_TRUE(EncryptUserSettings(EncodeUserSettings({}), cipher));
    std::string plain;
    CryptoPP::LegacyDecryptorWithMAC dec(kUserSettingsPassphrase, new CryptoPP::StringSink(plain));
    dec.Put(cipher.data(), cipher.size());
    dec.MessageEnd();
    EXPECT_EQ(plain, Le32(0));
}
