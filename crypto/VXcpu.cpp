// Processor feature detection for the cipher paths, and the switch that turns features off.
#include "crypto/VXcpu.h"

#include <array>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define VX_CPU_X86 1
#endif

namespace {

constexpr std::uint32_t Bit(TVXCpuFeature feature)
{
    return 1u << static_cast<unsigned>(feature);
}

#ifdef VX_CPU_X86
struct TCpuid
{
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
};

TCpuid Leaf(unsigned leaf, unsigned sub = 0)
{
    TCpuid r;
    if (__get_cpuid_count(leaf, sub, &r.eax, &r.ebx, &r.ecx, &r.edx) == 0) {
        return {};
    }
    return r;
}

std::string Vendor()
{
    const TCpuid vendor = Leaf(0);
    char name[13] = {};
    std::memcpy(name, &vendor.ebx, 4);
    std::memcpy(name + 4, &vendor.edx, 4);
    std::memcpy(name + 8, &vendor.ecx, 4);
    return name;
}

// Whether gathers beat the scalar table look-ups they replace, by vendor, as measured with the
// cipher benchmarks' gather paths forced on and off (bench/ciphers, "-path-" entries):
// - Intel cores since Skylake gather eight 32-bit words in a few cycles; the table-driven ciphers
//   decrypt far faster there with gathers than with scalar look-ups.
// - On AMD family 0x1A (a virtual Turin-class EPYC) the gather paths of Twofish and Blowfish came out
//   between 25% slower and 8% faster than the scalar code from one run to the next, never clearly
//   ahead, so they stay off; older AMD families issue a gather as a long microcoded sequence and are
//   slower still.
bool GathersAreFast(bool avx2)
{
    return avx2 && Vendor() == "GenuineIntel";
}
#endif

std::uint32_t Detect()
{
    std::uint32_t found = 0;
#ifdef VX_CPU_X86
    // __builtin_cpu_supports also checks that the system saves the vector registers (XGETBV), which
    // a bare CPUID bit does not promise.
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    const bool avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512vl") != 0 &&
                        __builtin_cpu_supports("avx512bw") != 0;
    if (__builtin_cpu_supports("aes") != 0 && __builtin_cpu_supports("sse4.1") != 0) {
        found |= Bit(TVXCpuFeature::AesNi);
    }
    if (avx2) {
        found |= Bit(TVXCpuFeature::Avx2);
    }
    if (avx512) {
        found |= Bit(TVXCpuFeature::Avx512);
    }
    // Not every compiler knows "vaes", "gfni" and "avx512vbmi" as feature names, so their bits (leaf 7,
    // ECX bits 9, 8 and 1) are read directly; they are only usable with the wide registers the AVX checks confirm.
    const TCpuid leaf7 = Leaf(7);
    if (avx2 && (leaf7.ecx & (1u << 9)) != 0 && (found & Bit(TVXCpuFeature::AesNi)) != 0) {
        found |= Bit(TVXCpuFeature::Vaes);
    }
    if (avx2 && (leaf7.ecx & (1u << 8)) != 0) {
        found |= Bit(TVXCpuFeature::Gfni);
    }
    if (avx512 && (leaf7.ecx & (1u << 1)) != 0) {
        found |= Bit(TVXCpuFeature::Vbmi);
    }
    if (GathersAreFast(avx2)) {
        found |= Bit(TVXCpuFeature::FastGather);
    }
    if (__builtin_cpu_supports("bmi") != 0 && __builtin_cpu_supports("bmi2") != 0) {
        found |= Bit(TVXCpuFeature::Bmi);
    }
#endif
    return found;
}

std::uint32_t Detected()
{
    static const std::uint32_t detected = Detect();
    return detected;
}

std::atomic<std::uint32_t> g_switchedOff{0};
std::atomic<std::uint32_t> g_forcedOn{0};

constexpr std::array<std::string_view, kVXCpuFeatureCount> kNames = {"aes-ni", "avx2",        "avx512", "vaes",
                                                                     "gfni",   "fast-gather", "vbmi", "bmi"};

} // namespace

bool VXCpuDetected(TVXCpuFeature feature)
{
    return (Detected() & Bit(feature)) != 0;
}

bool VXCpuHas(TVXCpuFeature feature)
{
    const bool forced = (g_forcedOn.load(std::memory_order_relaxed) & Bit(feature)) != 0;
    return (VXCpuDetected(feature) || forced) && (g_switchedOff.load(std::memory_order_relaxed) & Bit(feature)) == 0;
}

std::string_view VXCpuFeatureName(TVXCpuFeature feature)
{
    const auto index = static_cast<std::size_t>(feature);
    return index < kNames.size() ? kNames[index] : std::string_view("unknown");
}

std::string VXCpuModel()
{
#ifdef VX_CPU_X86
    if (Leaf(0x80000000).eax >= 0x80000004) {
        char brand[49] = {};
        for (unsigned i = 0; i < 3; ++i) {
            const TCpuid part = Leaf(0x80000002 + i);
            std::memcpy(brand + 16 * i, &part, 16);
        }
        std::string model(brand);
        const auto first = model.find_first_not_of(' ');
        const auto last = model.find_last_not_of(' ');
        if (first != std::string::npos) {
            return model.substr(first, last - first + 1);
        }
    }
#endif
    return "unknown";
}

void VXCpuSwitchOff(TVXCpuFeature feature, bool off)
{
    if (off) {
        g_switchedOff.fetch_or(Bit(feature), std::memory_order_relaxed);
    } else {
        g_switchedOff.fetch_and(~Bit(feature), std::memory_order_relaxed);
    }
}

void VXCpuForceOn(TVXCpuFeature feature, bool on)
{
    // A gather is correct wherever AVX2 runs; only its speed depends on the vendor.
    if (feature != TVXCpuFeature::FastGather || !VXCpuDetected(TVXCpuFeature::Avx2)) {
        return;
    }
    if (on) {
        g_forcedOn.fetch_or(Bit(feature), std::memory_order_relaxed);
    } else {
        g_forcedOn.fetch_and(~Bit(feature), std::memory_order_relaxed);
    }
}

TVXCpuFeaturesOff::TVXCpuFeaturesOff(std::initializer_list<TVXCpuFeature> features)
    : m_previous(g_switchedOff.load(std::memory_order_relaxed))
{
    for (const TVXCpuFeature feature : features) {
        VXCpuSwitchOff(feature, true);
    }
}

TVXCpuFeaturesOff::~TVXCpuFeaturesOff()
{
    g_switchedOff.store(m_previous, std::memory_order_relaxed);
}
