#include "plugin/storage/BinaryCodec.h"

#include <cstring>

namespace parleym {

void BinaryWriter::PutUInt32(std::uint32_t value) {
    std::uint8_t b[4] = {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16),
                         std::uint8_t(value >> 24)};
    data_.insert(data_.end(), b, b + 4);
}

void BinaryWriter::PutInt32(std::int32_t value) { PutUInt32(static_cast<std::uint32_t>(value)); }

void BinaryWriter::PutUInt8(std::uint8_t value) { data_.push_back(value); }

void BinaryWriter::PutDouble(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutUInt32(static_cast<std::uint32_t>(bits));
    PutUInt32(static_cast<std::uint32_t>(bits >> 32));
}

void BinaryWriter::PutString(const std::string& value) {
    PutInt32(static_cast<std::int32_t>(value.size()));
    PutBytes(value.data(), value.size());
}

void BinaryWriter::PutBytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    data_.insert(data_.end(), p, p + size);
}

BinaryReader::BinaryReader(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), size_(data ? size : 0) {}

bool BinaryReader::GetBytes(void* out, std::size_t size) {
    if (size > Remaining()) return false;
    if (size) std::memcpy(out, data_ + pos_, size);
    pos_ += size;
    return true;
}

bool BinaryReader::GetUInt32(std::uint32_t& value) {
    std::uint8_t b[4];
    if (!GetBytes(b, 4)) return false;
    value = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
            std::uint32_t(b[3]) << 24;
    return true;
}

bool BinaryReader::GetInt32(std::int32_t& value) {
    std::uint32_t raw;
    if (!GetUInt32(raw)) return false;
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool BinaryReader::GetUInt8(std::uint8_t& value) { return GetBytes(&value, 1); }

bool BinaryReader::GetDouble(double& value) {
    std::uint32_t low = 0, high = 0;
    if (Remaining() < 8) return false;
    GetUInt32(low);
    GetUInt32(high);
    const std::uint64_t bits = std::uint64_t(high) << 32 | low;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

bool BinaryReader::GetString(std::string& value) {
    const std::size_t start = pos_;
    std::int32_t length;
    if (!GetInt32(length)) return false;
    if (length < 0 || static_cast<std::size_t>(length) > Remaining()) {
        pos_ = start;
        return false;
    }
    value.assign(reinterpret_cast<const char*>(data_ + pos_), static_cast<std::size_t>(length));
    pos_ += static_cast<std::size_t>(length);
    return true;
}

bool BinaryReader::CountFits(std::int32_t count, std::size_t minItemSize) const {
    if (count < 0) return false;
    if (minItemSize == 0) return true;
    return static_cast<std::size_t>(count) <= Remaining() / minItemSize;
}

} // namespace parleym
