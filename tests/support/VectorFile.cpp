#include "tests/support/VectorFile.h"

#include <fstream>
#include <set>
#include <stdexcept>

#ifndef VX_TEST_DATA_DIR
#error "VX_TEST_DATA_DIR must name tests/data"
#endif

namespace
{
const std::set<std::string> kKnownFields = {"key", "keybits", "plain", "cipher", "iterated", "message", "digest"};

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}
} // namespace

const std::string& TVectorRecord::Field(const std::string& name) const
{
    const auto it = fields.find(name);
    if (it == fields.end()) {
        throw std::runtime_error(where + ": record has no field '" + name + "'");
    }
    return it->second;
}

std::vector<std::uint8_t> TVectorRecord::Bytes(const std::string& name) const
{
    try {
        return FromHex(Field(name));
    } catch (const std::exception& e) {
        throw std::runtime_error(where + ": field '" + name + "': " + e.what());
    }
}

unsigned long TVectorRecord::Number(const std::string& name) const
{
    const std::string& text = Field(name);
    std::size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 10);
    if (used != text.size()) {
        throw std::runtime_error(where + ": field '" + name + "' is not a decimal number");
    }
    return value;
}

std::vector<std::uint8_t> FromHex(const std::string& hex)
{
    if (hex.size() % 2 != 0) {
        throw std::runtime_error("hex string of odd length");
    }
    std::vector<std::uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        std::size_t used = 0;
        const std::string pair = hex.substr(i, 2);
        const unsigned long v = std::stoul(pair, &used, 16);
        if (used != 2) {
            throw std::runtime_error("bad hex digits '" + pair + "'");
        }
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t size)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::vector<TVectorRecord> LoadVectorFile(const std::string& name)
{
    const std::string path = std::string(VX_TEST_DATA_DIR) + "/vectors/" + name;
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    std::vector<TVectorRecord> records;
    TVectorRecord current;
    std::string lastComment;
    std::string line;
    int number = 0;
    auto flush = [&] {
        if (!current.fields.empty()) {
            records.push_back(current);
        }
        current = TVectorRecord{};
    };
    while (std::getline(in, line)) {
        ++number;
        const std::string where = path + ":" + std::to_string(number);
        const std::string trimmed = Trim(line);
        if (trimmed.empty()) {
            flush();
            continue;
        }
        if (trimmed[0] == '#') {
            lastComment = Trim(trimmed.substr(1));
            continue;
        }
        const auto eq = trimmed.find('=');
        if (eq == std::string::npos) {
            throw std::runtime_error(where + ": expected 'name = value'");
        }
        const std::string field = Trim(trimmed.substr(0, eq));
        const std::string value = Trim(trimmed.substr(eq + 1));
        if (kKnownFields.count(field) == 0) {
            throw std::runtime_error(where + ": unknown field '" + field + "'");
        }
        if (current.fields.empty()) {
            current.where = where;
            current.comment = lastComment;
        }
        if (!current.fields.emplace(field, value).second) {
            throw std::runtime_error(where + ": field '" + field + "' given twice");
        }
    }
    flush();
    if (records.empty()) {
        throw std::runtime_error(path + ": no records");
    }
    return records;
}
