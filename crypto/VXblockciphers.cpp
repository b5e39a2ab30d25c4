// The block cipher base shared by every 64- and 128-bit cipher: modes, chaining, tails and known-answer checks.
#include "crypto/VXblockciphers.h"

#include "crypto/VXsecmem.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace
{
// Multi-block work is done in batches small enough to live on the stack.
constexpr std::size_t kBatchBytes = 512;

template <std::size_t N>
void XorBlock(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b)
{
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = static_cast<std::uint8_t>(a[i] ^ b[i]);
    }
}
} // namespace

template <std::size_t N>
void TVX_blockcipherN<N>::KeySetup(std::span<const std::uint8_t> key, std::uint32_t sizeBits,
                                   std::span<const std::uint8_t> iv)
{
    TVX_cipher::KeySetup(key, sizeBits, iv);
    try {
        if (!iv.empty() && iv.size() < N) {
            throw std::invalid_argument("initialisation vector shorter than one block");
        }
        ExpandKey(key, sizeBits);
        if (iv.empty()) {
            m_initVector.fill(0);
            DoEncryptBlock(m_initVector.data(), m_initVector.data());
        } else {
            std::copy_n(iv.begin(), N, m_initVector.begin());
        }
        m_chainBlock = m_initVector;
    } catch (...) {
        Wipe();
        throw;
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::Wipe()
{
    SecureFill(m_initVector, 0xFF);
    SecureFill(m_chainBlock, 0xFF);
    TVX_blockcipher::Wipe();
}

template <std::size_t N>
void TVX_blockcipherN<N>::Rewind()
{
    RequireReady();
    m_chainBlock = m_initVector;
}

template <std::size_t N>
void TVX_blockcipherN<N>::LoadIV(std::span<const std::uint8_t> block)
{
    RequireReady();
    if (block.size() < N) {
        throw std::invalid_argument("initialisation vector shorter than one block");
    }
    std::copy_n(block.begin(), N, m_initVector.begin());
    m_chainBlock = m_initVector;
}

template <std::size_t N>
void TVX_blockcipherN<N>::ReadChain(std::span<std::uint8_t> block) const
{
    RequireReady();
    if (block.size() < N) {
        throw std::invalid_argument("chain output shorter than one block");
    }
    std::copy(m_chainBlock.begin(), m_chainBlock.end(), block.begin());
}

template <std::size_t N>
std::size_t TVX_blockcipherN<N>::Prepare(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) const
{
    RequireReady();
    if (out.size() < in.size()) {
        throw std::invalid_argument("output shorter than input");
    }
    return in.size();
}

template <std::size_t N>
void TVX_blockcipherN<N>::DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    for (std::size_t b = 0; b < blocks; ++b) {
        DoEncryptBlock(in + b * N, out + b * N);
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    for (std::size_t b = 0; b < blocks; ++b) {
        DoDecryptBlock(in + b * N, out + b * N);
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                             std::uint8_t* chain) const
{
    std::uint8_t* cv = chain;
    for (std::size_t b = 0; b < blocks; ++b) {
        XorBlock<N>(cv, cv, in + b * N);
        DoEncryptBlock(cv, cv);
        std::memcpy(out + b * N, cv, N);
    }
}

// The tail of every mode but CFB-8: the chain is encrypted once more and used as a key stream, so
// the output keeps the input's length. Stored files rely on this exact rule.
template <std::size_t N>
void TVX_blockcipherN<N>::Tail(const std::uint8_t* in, std::uint8_t* out, std::size_t r)
{
    DoEncryptBlock(m_chainBlock.data(), m_chainBlock.data());
    for (std::size_t i = 0; i < r; ++i) {
        out[i] = static_cast<std::uint8_t>(in[i] ^ m_chainBlock[i]);
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::CbcEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    const std::size_t size = Prepare(in, out);
    const std::size_t blocks = size / N;
    DoCbcEncryptBlocks(in.data(), out.data(), blocks, m_chainBlock.data());
    if (size % N != 0) {
        Tail(in.data() + blocks * N, out.data() + blocks * N, size % N);
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::CbcDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    const std::size_t size = Prepare(in, out);
    const std::size_t blocks = size / N;
    constexpr std::size_t batchBlocks = kBatchBytes / N;
    // The cipher blocks are saved before the output may overwrite them (in place); the batch then
    // decrypts independently of the chain, which lets a cipher keep several blocks in flight.
    std::array<std::uint8_t, batchBlocks * N> saved;
    for (std::size_t done = 0; done < blocks;) {
        const std::size_t count = std::min(batchBlocks, blocks - done);
        const std::uint8_t* src = in.data() + done * N;
        std::uint8_t* dst = out.data() + done * N;
        std::memcpy(saved.data(), src, count * N);
        DoDecryptBlocks(saved.data(), dst, count);
        XorBlock<N>(dst, dst, m_chainBlock.data());
        for (std::size_t b = 1; b < count; ++b) {
            XorBlock<N>(dst + b * N, dst + b * N, saved.data() + (b - 1) * N);
        }
        std::memcpy(m_chainBlock.data(), saved.data() + (count - 1) * N, N);
        done += count;
    }
    if (size % N != 0) {
        Tail(in.data() + blocks * N, out.data() + blocks * N, size % N);
    }
}

template <std::size_t N>
template <bool Encrypt>
void TVX_blockcipherN<N>::Cfb8(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    const std::size_t size = Prepare(in, out);
    std::array<std::uint8_t, N> k;
    for (std::size_t i = 0; i < size; ++i) {
        DoEncryptBlock(m_chainBlock.data(), k.data());
        const std::uint8_t inByte = in[i];
        const auto outByte = static_cast<std::uint8_t>(inByte ^ k[0]);
        out[i] = outByte;
        std::memmove(m_chainBlock.data(), m_chainBlock.data() + 1, N - 1);
        m_chainBlock[N - 1] = Encrypt ? outByte : inByte;
    }
    SecureFill(k, 0);
}

template <std::size_t N>
void TVX_blockcipherN<N>::Cfb8Encrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Cfb8<true>(in, out);
}

template <std::size_t N>
void TVX_blockcipherN<N>::Cfb8Decrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Cfb8<false>(in, out);
}

template <std::size_t N>
template <bool Encrypt>
void TVX_blockcipherN<N>::CfbBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    const std::size_t size = Prepare(in, out);
    const std::size_t blocks = size / N;
    std::array<std::uint8_t, N> saved;
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::uint8_t* src = in.data() + b * N;
        std::uint8_t* dst = out.data() + b * N;
        std::memcpy(saved.data(), src, N);
        DoEncryptBlock(m_chainBlock.data(), m_chainBlock.data());
        XorBlock<N>(dst, saved.data(), m_chainBlock.data());
        std::memcpy(m_chainBlock.data(), Encrypt ? dst : saved.data(), N);
    }
    if (size % N != 0) {
        Tail(in.data() + blocks * N, out.data() + blocks * N, size % N);
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::CfbBlockEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    CfbBlock<true>(in, out);
}

template <std::size_t N>
void TVX_blockcipherN<N>::CfbBlockDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    CfbBlock<false>(in, out);
}

template <std::size_t N>
void TVX_blockcipherN<N>::Ofb(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    const std::size_t size = Prepare(in, out);
    const std::size_t blocks = size / N;
    for (std::size_t b = 0; b < blocks; ++b) {
        DoEncryptBlock(m_chainBlock.data(), m_chainBlock.data());
        XorBlock<N>(out.data() + b * N, in.data() + b * N, m_chainBlock.data());
    }
    if (size % N != 0) {
        Tail(in.data() + blocks * N, out.data() + blocks * N, size % N);
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::OfbEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Ofb(in, out);
}

template <std::size_t N>
void TVX_blockcipherN<N>::OfbDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Ofb(in, out);
}

template <std::size_t N>
void TVX_blockcipherN<N>::StepCounter()
{
    for (std::size_t i = N; i-- > 0;) {
        if (++m_chainBlock[i] != 0) {
            break;
        }
    }
}

template <std::size_t N>
void TVX_blockcipherN<N>::Ctr(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    const std::size_t size = Prepare(in, out);
    constexpr std::size_t batchBlocks = kBatchBytes / N;
    std::array<std::uint8_t, batchBlocks * N> stream;
    // The tail counts as one more block: it takes E(CV) and steps the counter like a full one.
    const std::size_t blocks = (size + N - 1) / N;
    for (std::size_t done = 0; done < blocks;) {
        const std::size_t count = std::min(batchBlocks, blocks - done);
        for (std::size_t b = 0; b < count; ++b) {
            std::memcpy(stream.data() + b * N, m_chainBlock.data(), N);
            StepCounter();
        }
        DoEncryptBlocks(stream.data(), stream.data(), count);
        const std::size_t first = done * N;
        const std::size_t bytes = std::min(count * N, size - first);
        for (std::size_t i = 0; i < bytes; ++i) {
            out[first + i] = static_cast<std::uint8_t>(in[first + i] ^ stream[i]);
        }
        done += count;
    }
    SecureFill(stream, 0);
}

template <std::size_t N>
void TVX_blockcipherN<N>::CtrEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Ctr(in, out);
}

template <std::size_t N>
void TVX_blockcipherN<N>::CtrDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Ctr(in, out);
}

template class TVX_blockcipherN<8>;
template class TVX_blockcipherN<16>;
