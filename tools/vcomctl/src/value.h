#pragma once
// VCOM values as typed by a person: decimal ("128") or hexadecimal with a
// 0x prefix ("0x80"), 0 to 65535. A leading zero ("010") is refused rather
// than read as octal, as strtol would: on a factory line "010" is a typo far
// more often than an octal number.

#include <cstdint>
#include <string>

namespace vcomctl {

constexpr std::uint32_t kMaxValue = 0xFFFF;

// Stores the value and returns "", or returns why the text is not a value.
std::string parseValue(const std::string& text, std::uint16_t* value);

// A value up to `max` (a limit of its own, such as a bus number's): stores
// it and returns "", or returns why not.
std::string parseNumber(const std::string& text, unsigned int max, unsigned int* out);

// Bytes of a text the user gave that an error message quotes: a message stays
// one short line however long the text was.
constexpr std::size_t kQuotedBytes = 60;
// The text in single quotes, cut to kQuotedBytes with "..." after it.
std::string quoteText(const std::string& text);

}  // namespace vcomctl
