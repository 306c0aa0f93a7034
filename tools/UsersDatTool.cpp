// users-dat: creates, writes and dumps users.dat files. The build uses it to
// put a fresh file (no accounts) into dist/; tests use it on both platforms.
//   users-dat create FILE
//   users-dat write FILE [NAME DIGEST PATH]...
//   users-dat dump FILE        prints "count N" and one "name|digest|path" line per record
//   users-dat seal FILE PLAIN  encrypts the bytes of PLAIN as they are, so that tests
//                              can make files whose records do not decode
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/core/UserSettingsFormat.h"

#ifdef _WIN32
#include "plugin/core/UserSettingsFile.h"
#endif

using namespace parleym;

namespace {

#ifdef _WIN32
bool Save(const std::string& path, const std::vector<CUserSettings>& records) {
    // The product only ever replaces an existing file; the tool may create one.
    std::ofstream(path, std::ios::binary | std::ios::app).close();
    const SettingsFileResult result = WriteUserSettingsFile(path, records);
    if (result.kind != SettingsFileResult::Ok) std::fprintf(stderr, "write failed (%lu)\n", result.errorCode);
    return result.kind == SettingsFileResult::Ok;
}

bool Load(const std::string& path, std::vector<CUserSettings>& records) {
    const SettingsFileResult result = ReadUserSettingsFile(path, records);
    if (result.kind == SettingsFileResult::FileError) std::fprintf(stderr, "cannot open (%lu)\n", result.errorCode);
    if (result.kind == SettingsFileResult::InvalidFile) std::fprintf(stderr, "invalid file\n");
    return result.kind == SettingsFileResult::Ok;
}
#else
bool Save(const std::string& path, const std::vector<CUserSettings>& records) {
    Bytes cipher;
    if (!EncryptUserSettings(EncodeUserSettings(records), cipher)) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(cipher.data()), static_cast<std::streamsize>(cipher.size()));
    return static_cast<bool>(out);
}

bool Load(const std::string& path, std::vector<CUserSettings>& records) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open\n");
        return false;
    }
    Bytes cipher((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes plain;
    if (!DecryptUserSettings(cipher, plain) || !DecodeUserSettings(plain, records)) {
        std::fprintf(stderr, "invalid file\n");
        return false;
    }
    return true;
}
#endif

bool Seal(const std::string& path, const std::string& plainPath) {
    std::ifstream in(plainPath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", plainPath.c_str());
        return false;
    }
    const Bytes plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes cipher;
    if (!EncryptUserSettings(plain, cipher)) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(cipher.data()), static_cast<std::streamsize>(cipher.size()));
    return static_cast<bool>(out);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: users-dat create FILE | write FILE [NAME DIGEST PATH]... | dump FILE | seal FILE PLAIN\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1], path = argv[2];
    if (command == "create") return Save(path, {}) ? 0 : 1;
    if (command == "write") {
        if ((argc - 3) % 3 != 0) return Usage();
        std::vector<CUserSettings> records;
        for (int i = 3; i < argc; i += 3) records.push_back({argv[i], argv[i + 1], argv[i + 2]});
        return Save(path, records) ? 0 : 1;
    }
    if (command == "dump") {
        std::vector<CUserSettings> records;
        if (!Load(path, records)) return 1;
        std::printf("count %zu\n", records.size());
        for (const CUserSettings& r : records)
            std::printf("%s|%s|%s\n", r.signInName.c_str(), r.passwordDigest.c_str(), r.logsPath.c_str());
        return 0;
    }
    if (command == "seal") return argc == 4 && Seal(path, argv[3]) ? 0 : argc == 4 ? 1 : Usage();
    return Usage();
}
