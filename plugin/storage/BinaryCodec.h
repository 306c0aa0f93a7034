#pragma once
// Little-endian record encoding shared by every data file: 32-bit integers,
// strings as a 32-bit byte length then the bytes, dates as 8-byte doubles.
// Reading never trusts a length or count: anything past the end is a failure.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace parleym {

using Bytes = std::vector<std::uint8_t>;

class BinaryWriter {
public:
    void PutInt32(std::int32_t value);
    void PutUInt32(std::uint32_t value);
    void PutUInt8(std::uint8_t value);
    void PutDouble(double value);
    void PutString(const std::string& value);
    void PutBytes(const void* data, std::size_t size);

    const Bytes& Data() const { return data_; }
    Bytes Take() { return std::move(data_); }

private:
    Bytes data_;
};

class BinaryReader {
public:
    BinaryReader(const void* data, std::size_t size);
    explicit BinaryReader(const Bytes& data) : BinaryReader(data.data(), data.size()) {}

    // Each returns false (and leaves the output alone) when the data runs out.
    bool GetInt32(std::int32_t& value);
    bool GetUInt32(std::uint32_t& value);
    bool GetUInt8(std::uint8_t& value);
    bool GetDouble(double& value);
    bool GetString(std::string& value);
    bool GetBytes(void* out, std::size_t size);

    // A count read from the data is plausible only if every item could still
    // take at least minItemSize bytes; guards allocations against damaged files.
    bool CountFits(std::int32_t count, std::size_t minItemSize) const;

    std::size_t Remaining() const { return size_ - pos_; }
    std::size_t Position() const { return pos_; }
    bool AtEnd() const { return pos_ == size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace parleym
