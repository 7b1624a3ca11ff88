#include "engine/blockconvert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonvera {

namespace {

constexpr std::int32_t kFullScale24In32 = 0x7FFFFF00;

}  // namespace

int BytesPerValue(int bits)
{
    if (bits <= 8) {
        return 1;
    }
    if (bits <= 16) {
        return 2;
    }
    return 4;
}

ConvertedBlock ConvertCapturedBlock(const std::uint8_t* data, std::size_t bytesRecorded, int bits,
                                    std::uint8_t swapFlag, float* out, std::size_t capacity)
{
    ConvertedBlock result;
    if (data == nullptr || out == nullptr) {
        return result;
    }
    const std::size_t valueBytes = static_cast<std::size_t>(BytesPerValue(bits));
    std::size_t count = bytesRecorded / valueBytes;
    if (count > capacity) {
        count = capacity;
    }
    count &= ~static_cast<std::size_t>(1);  // whole frames only
    // Swap flag clear: the pair (left, right) of the device lands as (right, left).
    const std::size_t flip = swapFlag != 0 ? 0 : 1;
    int overloads = 0;

    for (std::size_t b = 0; b < count; ++b) {
        float value = 0.0f;
        if (valueBytes == 1) {
            const std::uint8_t raw = data[b];
            if (raw == 0 || raw == 255) {
                ++overloads;
            }
            value = static_cast<float>(static_cast<int>(raw) - 128) / 128.0f;
        } else if (valueBytes == 2) {
            std::int16_t raw = 0;
            std::memcpy(&raw, data + 2 * b, sizeof raw);
            if (raw == -32768 || raw == 32767) {
                ++overloads;
            }
            value = static_cast<float>(raw) / 32768.0f;
        } else {
            std::int32_t raw = 0;
            std::memcpy(&raw, data + 4 * b, sizeof raw);
            // 24-bit samples fill the container's upper three bytes: their positive full
            // scale is 0x7FFFFF00, never 2147483647.
            if (raw <= -2147483647 || raw >= kFullScale24In32) {
                ++overloads;
            }
            value = static_cast<float>(static_cast<double>(raw) / 2147483647.0);
        }
        out[b ^ flip] = value;
    }
    result.valueCount = static_cast<int>(count);
    result.overloadCount = overloads;
    return result;
}

void StoreSample(char* p, int bytes, double x)
{
    switch (bytes) {
    case 1: {
        const double v = std::clamp(std::nearbyint(x * 127.0), -127.0, 127.0);
        *p = static_cast<char>(static_cast<unsigned char>(128 + static_cast<int>(v)));
        break;
    }
    case 2: {
        const auto v = static_cast<std::int16_t>(std::clamp(std::nearbyint(x * 32767.0), -32767.0, 32767.0));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    default: {
        const auto v = static_cast<std::int32_t>(
            std::clamp(std::nearbyint(x * 2147483392.0), -2147483392.0, 2147483392.0));
        std::memcpy(p, &v, sizeof v);
        break;
    }
    }
}

}  // namespace sonvera
