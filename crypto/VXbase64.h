// Base64 text form of cipher output, as the text operations use it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// RFC 4648 alphabet with "=" padding and no line breaks.
std::string Base64Encode(std::span<const std::uint8_t> data);
// Throws std::invalid_argument on a character outside the alphabet or a malformed length.
std::vector<std::uint8_t> Base64Decode(std::string_view text);
