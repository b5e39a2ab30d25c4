// Processor feature sets chosen at run time, for tests that rerun ciphers on every path.
#pragma once

#include "crypto/VXcpu.h"

#include <vector>

using TCpuFeatureSet = std::vector<TVXCpuFeature>;

// Switches off a set built at run time and restores the previous state when it goes out of scope.
class TCpuFeatureSetOff final
{
public:
    explicit TCpuFeatureSetOff(const TCpuFeatureSet& features)
    {
        for (const TVXCpuFeature feature : features) {
            VXCpuSwitchOff(feature, true);
        }
    }

private:
    TVXCpuFeaturesOff m_restore{}; // saves the state before the constructor's body changes it
};

inline TCpuFeatureSet DetectedCpuFeatures()
{
    TCpuFeatureSet detected;
    for (std::size_t i = 0; i < kVXCpuFeatureCount; ++i) {
        const auto feature = static_cast<TVXCpuFeature>(i);
        if (VXCpuDetected(feature)) {
            detected.push_back(feature);
        }
    }
    return detected;
}
