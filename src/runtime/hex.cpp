// Hex coding of pointer texts: two lower-case digits per byte, high nibble first.
#include "runtime/runtime.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

const char hex_digits[] = "0123456789abcdef";

// Value of each character as a lower-case hex digit, -1 for any other.
constexpr std::array<signed char, 256> make_digit_values() {
    std::array<signed char, 256> values{};
    for (int c = 0; c < 256; ++c) {
        int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        values[c] = static_cast<signed char>(value);  // -1 to 15: fits
    }
    return values;
}

constexpr std::array<signed char, 256> digit_values = make_digit_values();

int digit_value(char c) {
    return digit_values[static_cast<unsigned char>(c)];
}

constexpr uint64_t each_byte(uint64_t value) {
    return value * 0x0101010101010101u;
}

// Eight digits into four bytes at once, the first character in the lowest
// byte of the word (so on little-endian hosts only). Gives false, writing
// nothing, unless all eight are lower-case hex digits: the rest is left to
// the lenient loop.
bool unpack_word(const char *text, unsigned char *out) {
    uint64_t chars;
    std::memcpy(&chars, text, sizeof chars);
    // Per byte, below 0x80 (so no sum carries into the next byte), then
    // the top bit of each sum says whether it lies in '0'-'9' or 'a'-'f'.
    uint64_t digit = (chars + each_byte(0x80 - '0')) & ~(chars + each_byte(0x7f - '9'));
    uint64_t letter = (chars + each_byte(0x80 - 'a')) & ~(chars + each_byte(0x7f - 'f'));
    if ((chars & each_byte(0x80)) || ((digit | letter) & each_byte(0x80)) != each_byte(0x80))
        return false;
    // A digit's low four bits are its value; a letter's (1-6) are 9 short.
    uint64_t nibbles = (chars & each_byte(0x0f)) + ((chars >> 6) & each_byte(0x01)) * 9;
    constexpr uint64_t low_of_pairs = 0x00ff00ff00ff00ffu;
    uint64_t pairs = ((nibbles & low_of_pairs) << 4) | ((nibbles >> 8) & low_of_pairs);
    uint64_t packed = (pairs | pairs >> 8) & 0x0000ffff0000ffffu;
    auto bytes = static_cast<uint32_t>(packed | packed >> 16);
    std::memcpy(out, &bytes, sizeof bytes);
    return true;
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
    int i = 0;
    while (!host_is_big_endian && i + 4 <= count && unpack_word(text, out + i))
        i += 4, text += 8;
    if (i > 0)
        byte = out[i - 1];  // the running byte: the last one written
    for (; i < count; ++i) {
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
