#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One record of a known-answer file: its `name = value` lines, plus where it stands for messages.
struct TVectorRecord
{
    std::map<std::string, std::string> fields;
    std::string comment; // the last comment line before the record
    std::string where;   // file:line of its first field

    const std::string& Field(const std::string& name) const;
    bool Has(const std::string& name) const { return fields.count(name) != 0; }
    std::vector<std::uint8_t> Bytes(const std::string& name) const;
    unsigned long Number(const std::string& name) const;
};

// Reads tests/data/vectors/<name>. Strict: a line that is neither a comment, blank, nor
// `name = value` with a known field, a repeated field, or a hex value of odd length fails the test run.
std::vector<TVectorRecord> LoadVectorFile(const std::string& name);

std::vector<std::uint8_t> FromHex(const std::string& hex);
std::string ToHex(const std::uint8_t* data, std::size_t size);
template <class C>
std::string ToHex(const C& bytes)
{
    return ToHex(bytes.data(), bytes.size());
}
