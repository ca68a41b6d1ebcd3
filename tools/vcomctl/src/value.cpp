#include "value.h"

#include <cstdio>

namespace vcomctl {
namespace {

constexpr const char* kOutOfRange = " is out of range ";

int digitValue(char c, int base)
{
    int digit = -1;
    if (c >= '0' && c <= '9')
        digit = c - '0';
    else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
    return digit < base ? digit : -1;
}

}  // namespace

std::string parseValue(const std::string& text, std::uint16_t* value)
{
    const std::string quote = quoteText(text);
    if (text.empty()) return "empty value (use decimal or 0x hex)";

    int base = 10;
    std::string::size_type start = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
        if (text.size() == 2) return quote + " has no digits after 0x";
    } else if (text.size() > 1 && text[0] == '0' && digitValue(text[1], 10) >= 0) {
        const std::string::size_type significant = text.find_first_not_of('0');
        const std::string decimal =
            significant == std::string::npos ? "0" : text.substr(significant, kQuotedBytes);
        return quote + " has a leading zero (octal is not accepted); write " + decimal +
               " for decimal or prefix 0x for hex";
    }

    std::uint32_t number = 0;
    bool tooLarge = false;
    for (std::string::size_type i = start; i < text.size(); ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0) {
            return quote + " is not a number (use decimal or 0x hex)";
        }
        number = number * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
        if (number > kMaxValue) {
            tooLarge = true;
            number = kMaxValue + 1;  // keeps the loop from overflowing
        }
    }
    if (tooLarge) return quote + " is out of range (0 to 65535)";
    *value = static_cast<std::uint16_t>(number);
    return "";
}

std::string quoteText(const std::string& text)
{
    if (text.size() <= kQuotedBytes) return "'" + text + "'";
    return "'" + text.substr(0, kQuotedBytes) + "...'";
}

std::string parseNumber(const std::string& text, unsigned int max, unsigned int* out)
{
    std::uint16_t value = 0;
    std::string why = parseValue(text, &value);
    // One limit, whether the number exceeds it or even the value type.
    if ((why.empty() && value > max) || why.find(kOutOfRange) != std::string::npos)
        why = quoteText(text) + kOutOfRange + "(0 to " + std::to_string(max) + ")";
    if (why.empty()) *out = value;
    return why;
}

}  // namespace vcomctl
