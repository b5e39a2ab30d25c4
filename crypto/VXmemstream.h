// Reader and writer over memory for the stream operations.
#pragma once

#include "crypto/VXcrypt.h"

#include <algorithm>
#include <vector>

// Byte streams over memory, for checks that re-run a cipher without touching files.
class TVX_memoryreader final : public TVX_readstream
{
public:
    explicit TVX_memoryreader(std::span<const std::uint8_t> data) : m_data(data) {}

    std::size_t Read(std::span<std::uint8_t> buffer) override
    {
        const std::size_t n = std::min(buffer.size(), m_data.size() - m_position);
        std::copy_n(m_data.begin() + static_cast<std::ptrdiff_t>(m_position), n, buffer.begin());
        m_position += n;
        return n;
    }

    bool CanLend() const override { return true; }
    std::span<const std::uint8_t> Lend(std::size_t size) override
    {
        const std::size_t n = std::min(size, m_data.size() - m_position);
        const auto lent = m_data.subspan(m_position, n);
        m_position += n;
        return lent;
    }

    void Seek(std::size_t position) { m_position = std::min(position, m_data.size()); }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_position = 0;
};

class TVX_memorywriter final : public TVX_writestream
{
public:
    void Write(std::span<const std::uint8_t> data) override { m_data.insert(m_data.end(), data.begin(), data.end()); }

    std::vector<std::uint8_t>& Data() { return m_data; }

private:
    std::vector<std::uint8_t> m_data;
};
