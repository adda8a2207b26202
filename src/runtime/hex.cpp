// Hex coding of pointer texts: two lower-case digits per byte, high nibble first.
#include "runtime/runtime.h"

#include <array>

namespace {

const char hex_digits[] = "0123456789abcdef";

// Value of each character as a lower-case hex digit, -1 for any other.
constexpr std::array<signed char, 256> make_digit_values() {
    std::array<signed char, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                    : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                                           : -1;
    return values;
}

constexpr std::array<signed char, 256> digit_values = make_digit_values();

int digit_value(char c) {
    return digit_values[static_cast<unsigned char>(c)];
}

}  // namespace

char *pack_hex(char *out, const unsigned char *bytes, int count) {
    for (int i = 0; i < count; ++i) {
        *out++ = hex_digits[bytes[i] >> 4];
        *out++ = hex_digits[bytes[i] & 0xf];
    }
    return out;
}

const char *unpack_hex(const char *text, unsigned char *out, int count) {
    // A non-digit keeps the running byte as it was: decoding is lenient and
    // rejects nothing, so only the tag decides whether a text is accepted.
    unsigned char byte = 0;
    for (int i = 0; i < count; ++i) {
        int high = digit_value(text[0]);
        int low = digit_value(text[1]);
        text += 2;
        if ((high | low) >= 0) {
            byte = static_cast<unsigned char>(high << 4 | low);  // two digits: the usual case
        } else {
            if (high >= 0)
                byte = static_cast<unsigned char>(high << 4);
            if (low >= 0)
                byte |= static_cast<unsigned char>(low);
        }
        out[i] = byte;
    }
    return text;
}
