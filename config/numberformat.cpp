#include "config/numberformat.h"

#include <charconv>
#include <cmath>

namespace sonvera {

std::string FormatFixed(double v, int decimals, int width)
{
    decimals = decimals < 0 ? 0 : decimals;
    std::string text;
    if (std::isnan(v)) {
        text = "nan";
    } else if (std::isinf(v)) {
        text = v > 0 ? "inf" : "-inf";
    } else {
        // 309 integer digits (the largest double), the decimals, point and sign.
        text.resize(static_cast<std::size_t>(decimals) + 320);
        const auto res = std::to_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed, decimals);
        text.resize(res.ec == std::errc() ? static_cast<std::size_t>(res.ptr - text.data()) : 0);
        if (text.size() > 1 && text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) {
            text.erase(0, 1);
        }
    }
    if (static_cast<int>(text.size()) < width) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    }
    return text;
}

}  // namespace sonvera
