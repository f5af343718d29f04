#include "printable_text.h"

#include <cstddef>

namespace {

// The length of the well-formed UTF-8 sequence at `at` that shows as text;
// 0 for a byte that must be escaped.
size_t PrintableLength(const std::string& bytes, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) return (lead < 0x20 || lead == 0x7F) ? 0 : 1;
    const size_t length = (lead >= 0xC2 && lead <= 0xDF) ? 2 : (lead >= 0xE0 && lead <= 0xEF) ? 3
                        : (lead >= 0xF0 && lead <= 0xF4) ? 4 : 0;
    if (length == 0 || at + length > bytes.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(bytes[at + k]) & 0xC0) != 0x80) return 0;
    }
    // U+0080 to U+009F are the C1 controls, CSI among them.
    if (lead == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0) return 0;
    return length;
}

}  // namespace

std::string PrintableText(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t at = 0; at < bytes.size();) {
        if (const size_t length = PrintableLength(bytes, at)) {
            text.append(bytes, at, length);
            at += length;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(bytes[at++]);
        text += "\\x";
        text += kHex[c >> 4];
        text += kHex[c & 15];
    }
    return text;
}
