// The byte forms of a typed password: Unicode normalisation and the Windows-1252 rule.
#include "encryption/PasswordBytes.h"

#include "crypto/VXsecmem.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

#ifdef VX_NO_UTF8PROC
#ifdef _WIN32
#include <windows.h>
#endif
#else
#include <utf8proc.h>
#endif

namespace {
// Windows-1252 bytes 0x80 to 0x9F. The five bytes that the code page leaves undefined map to the
// control characters of the same number, as Windows' own conversion does.
constexpr char32_t kHighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<std::uint8_t> Windows1252Byte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<std::uint8_t>(c);
    }
    for (std::size_t i = 0; i < 32; ++i) {
        if (kHighTable[i] == c) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return std::nullopt;
}

// Walks strict UTF-8 (no overlongs, no surrogates), handing each code point to `visit` as it
// goes, so that the password's code points never gather in a buffer of their own. False for
// anything that is not UTF-8, or as soon as `visit` returns false.
template <class TVisit> bool DecodeUtf8(std::string_view text, TVisit visit)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (b0 < 0x80) {
            c = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            extra = 1;
            c = b0 & 0x1F;
            minimum = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2;
            c = b0 & 0x0F;
            minimum = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3;
            c = b0 & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (b & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        if (!visit(c)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool IsUtf8(std::string_view text)
{
    return DecodeUtf8(text, [](char32_t) { return true; });
}

std::optional<TSecureBuffer> ToWindows1252(std::string_view utf8)
{
    TSecureBuffer out;
    const bool ok = DecodeUtf8(utf8, [&out](char32_t c) {
        const auto b = Windows1252Byte(c);
        if (b) {
            out.PushBack(*b);
        }
        return b.has_value();
    });
    if (!ok) {
        return std::nullopt;
    }
    return out;
}

enum class TForm
{
    NFC,
    NFD
};

std::optional<TSecureBuffer> Normalize(std::string_view utf8, TForm form)
{
    if (!IsUtf8(utf8)) {
        return std::nullopt;
    }
#ifndef VX_NO_UTF8PROC
    const auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE |
                                                        (form == TForm::NFC ? UTF8PROC_COMPOSE : UTF8PROC_DECOMPOSE));
    utf8proc_uint8_t* result = nullptr;
    const utf8proc_ssize_t size = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(utf8.data()),
                                               static_cast<utf8proc_ssize_t>(utf8.size()), &result, options);
    if (size < 0 || result == nullptr) {
        return std::nullopt;
    }
    TSecureBuffer out(std::span<const std::uint8_t>(result, static_cast<std::size_t>(size)));
    SecureFill(std::span(result, static_cast<std::size_t>(size)), 0);
    std::free(result);
    return out;
#elif defined(_WIN32)
    const int wideSize = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideSize);
    const NORM_FORM norm = form == TForm::NFC ? NormalizationC : NormalizationD;
    int size = NormalizeString(norm, wide.data(), static_cast<int>(wide.size()), nullptr, 0);
    std::wstring normal(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    size = NormalizeString(norm, wide.data(), static_cast<int>(wide.size()), normal.data(), size);
    if (size <= 0 && !wide.empty()) {
        return std::nullopt;
    }
    const int outSize = WideCharToMultiByte(CP_UTF8, 0, normal.data(), size, nullptr, 0, nullptr, nullptr);
    TSecureBuffer out(static_cast<std::size_t>(outSize > 0 ? outSize : 0));
    WideCharToMultiByte(CP_UTF8, 0, normal.data(), size, reinterpret_cast<char*>(out.data()), outSize, nullptr,
                        nullptr);
    SecureFill(std::as_writable_bytes(std::span(wide)), 0);
    SecureFill(std::as_writable_bytes(std::span(normal)), 0);
    return out;
#else
#error "Unicode normalisation needs utf8proc"
#endif
}
} // namespace

TSecureBuffer PasswordBytes(std::string_view utf8)
{
    auto nfc = Normalize(utf8, TForm::NFC);
    if (!nfc) {
        return TSecureBuffer(utf8);
    }
    if (auto ansi = ToWindows1252(nfc->View())) {
        return std::move(*ansi);
    }
    return std::move(*nfc);
}

std::vector<TSecureBuffer> PasswordCandidates(std::string_view utf8)
{
    std::vector<TSecureBuffer> out;
    out.reserve(5);
    auto add = [&out](std::optional<TSecureBuffer> bytes) {
        if (bytes && std::find(out.begin(), out.end(), *bytes) == out.end()) {
            out.push_back(std::move(*bytes));
        }
    };
    add(PasswordBytes(utf8));
    add(Normalize(utf8, TForm::NFC));
    add(Normalize(utf8, TForm::NFD));
    add(ToWindows1252(utf8));
    add(TSecureBuffer(utf8));
    return out;
}
