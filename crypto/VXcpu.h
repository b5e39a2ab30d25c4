// Processor features the cipher paths are chosen by, and the one switch that turns them off for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Each accelerated path asks for the features it needs; a path runs only when all of them are
// detected and none has been switched off. Switching a feature off is how tests and benchmarks
// reach the slower paths on a processor that has faster ones.
enum class TVXCpuFeature : std::uint8_t
{
    AesNi,      // AES instructions and SSE4.1
    Avx2,       // 256-bit integer vectors (and the system saves them)
    Avx512,     // AVX-512 F, VL and BW
    Vaes,       // vector AES on 256/512-bit registers
    Gfni,       // Galois-field affine instructions
    FastGather, // vector gathers fast enough to beat scalar table look-ups (a vendor rule, not a CPUID bit)
    Vbmi,       // AVX-512 byte permutes across a whole register (VBMI)
    Bmi,        // BMI1 and BMI2: bit-field extracts, shifts and rotations that leave their source intact
    Count
};

inline constexpr std::size_t kVXCpuFeatureCount = static_cast<std::size_t>(TVXCpuFeature::Count);

// Detected and not switched off.
bool VXCpuHas(TVXCpuFeature feature);
// Detected, whatever the switches say.
bool VXCpuDetected(TVXCpuFeature feature);
std::string_view VXCpuFeatureName(TVXCpuFeature feature);
// The processor's brand string ("AMD EPYC 9R14 ...") or "unknown".
std::string VXCpuModel();

// Process-wide and not synchronised with running ciphers: set it between runs, as tests do.
void VXCpuSwitchOff(TVXCpuFeature feature, bool off);
// For FastGather only: counts it as present wherever Avx2 is detected, so the gather paths can be
// tested and measured on processors the vendor rule leaves them off on. Other features: no effect.
void VXCpuForceOn(TVXCpuFeature feature, bool on);

// Switches a set of features off for the lifetime of the object and restores the previous state.
class TVXCpuFeaturesOff final
{
public:
    explicit TVXCpuFeaturesOff(std::initializer_list<TVXCpuFeature> features);
    ~TVXCpuFeaturesOff();
    TVXCpuFeaturesOff(const TVXCpuFeaturesOff&) = delete;
    TVXCpuFeaturesOff& operator=(const TVXCpuFeaturesOff&) = delete;

private:
    std::uint32_t m_previous = 0;
};
