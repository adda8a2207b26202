// Hex coding of pointer texts: two lower-case digits per byte, high nibble first.
#include "runtime/runtime.h"

namespace {

const char hex_digits[] = "0123456789abcdef";

// Value of a lower-case hex digit, or -1 for any other character.
int digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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
        int high = digit_value(*text++);
        if (high >= 0)
            byte = static_cast<unsigned char>(high << 4);
        int low = digit_value(*text++);
        if (low >= 0)
            byte |= static_cast<unsigned char>(low);
        out[i] = byte;
    }
    return text;
}
