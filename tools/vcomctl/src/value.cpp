#include "value.h"

#include <cctype>
#include <charconv>

namespace vcomctl {
namespace {

constexpr const char* kOutOfRange = " is out of range ";

}  // namespace

std::string parseValue(const std::string& text, std::uint16_t* value)
{
    const std::string quote = quoteText(text);
    if (text.empty()) return "empty value (use decimal or 0x hex)";
    const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex && text.size() == 2) return quote + " has no digits after 0x";
    if (!hex && text.size() > 1 && text[0] == '0' &&
        std::isdigit(static_cast<unsigned char>(text[1]))) {
        const std::string::size_type significant = text.find_first_not_of('0');
        const std::string decimal =
            significant == std::string::npos ? "0" : text.substr(significant, kQuotedBytes);
        return quote + " has a leading zero (octal is not accepted); write " + decimal +
               " for decimal or prefix 0x for hex";
    }
    const char* const end = text.data() + text.size();
    unsigned long number = 0;
    const std::from_chars_result got =
        std::from_chars(text.data() + (hex ? 2 : 0), end, number, hex ? 16 : 10);
    if (got.ptr != end) return quote + " is not a number (use decimal or 0x hex)";
    if (got.ec == std::errc::result_out_of_range || number > kMaxValue)
        return quote + " is out of range (0 to 65535)";
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
