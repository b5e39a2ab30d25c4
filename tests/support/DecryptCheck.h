#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the file at `path` decrypts to with `password`, or nullopt when it is not a complete,
// matching encryption. Works on a copy, so the file itself is never touched.
std::optional<std::vector<std::uint8_t>> DecryptsTo(const std::string& path, const std::string& password);
