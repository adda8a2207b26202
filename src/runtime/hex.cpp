// Hex coding of pointer texts: two lower-case digits per byte, high nibble first.
#include "runtime/runtime.h"

#include <array>
#include <cstdint>

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

constexpr uint64_t each_byte = 0x0101010101010101;

// Top bit of each byte of `chars` that lies in [low, high]. Every byte must be
// below 0x80, so that no sum or difference carries into the next byte.
uint64_t bytes_in_range(uint64_t chars, unsigned char low, unsigned char high) {
    uint64_t at_least_low = chars + each_byte * (0x80 - low);
    uint64_t at_most_high = each_byte * (0x80 + high) - chars;
    return at_least_low & at_most_high & each_byte * 0x80;
}

// Four bytes from eight characters, all at once, when all eight are digits;
// false, writing nothing, otherwise. Written without regard to byte order.
bool unpack_eight_digits(const char *text, unsigned char *out) {
    uint64_t chars = 0;
    for (int i = 0; i < 8; ++i)
        chars |= uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
    if (chars & each_byte * 0x80)
        return false;
    uint64_t digits = bytes_in_range(chars, '0', '9') | bytes_in_range(chars, 'a', 'f');
    if (digits != each_byte * 0x80)
        return false;
    // '0'-'9' are 0x30-0x39 and 'a'-'f' 0x61-0x66: the low four bits, plus 9 for a letter.
    uint64_t values = (chars & each_byte * 0x0f) + ((chars >> 6) & each_byte) * 9;
    // Each pair of characters into one byte, then the four bytes side by side.
    uint64_t pairs = (values & 0x00ff00ff00ff00ff) << 4 | ((values >> 8) & 0x00ff00ff00ff00ff);
    pairs = (pairs | pairs >> 8) & 0x0000ffff0000ffff;
    pairs = (pairs | pairs >> 16) & 0xffffffff;
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(pairs >> (8 * i));
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
    // The usual text holds only digits, taken eight at a time.
    int done = 0;
    while (done + 4 <= count && unpack_eight_digits(text, out + done)) {
        text += 8;
        done += 4;
    }
    // A non-digit keeps the running byte as it was: decoding is lenient and
    // rejects nothing, so only the tag decides whether a text is accepted.
    unsigned char byte = done > 0 ? out[done - 1] : 0;
    for (int i = done; i < count; ++i) {
        int high = digit_value(text[0]);
        int low = digit_value(text[1]);
        text += 2;
        if (high >= 0)
            byte = static_cast<unsigned char>(high << 4);
        if (low >= 0)
            byte |= static_cast<unsigned char>(low);
        out[i] = byte;
    }
    return text;
}
