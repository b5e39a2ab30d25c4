#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Overwrites key material in a way the optimiser cannot drop as a dead store. Some schedules are
// wiped with 0xFF rather than zero, so the fill byte is a parameter.
void SecureFill(std::span<std::uint8_t> bytes, std::uint8_t value);
void SecureFill(std::span<std::byte> bytes, std::uint8_t value);

// Passwords and their byte forms live in strings too.
inline void SecureFill(std::string& text, std::uint8_t value)
{
    SecureFill(std::as_writable_bytes(std::span(text.data(), text.size())), value);
}

template <class T, std::size_t N>
void SecureFill(std::array<T, N>& values, std::uint8_t value)
{
    SecureFill(std::as_writable_bytes(std::span<T, N>(values)), value);
}
