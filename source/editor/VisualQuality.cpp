#include "editor/VisualQuality.h"

#include <algorithm>

namespace sorvane
{
VisualQuality::Tier VisualQuality::tierSettings(int t) noexcept
{
    switch (std::clamp(t, 0, 2))
    {
    case 0: return {60, 1};
    case 1: return {40, 2};
    default: return {24, 4};
    }
}

void VisualQuality::applyTier(int newTier) noexcept
{
    tier = std::clamp(newTier, 0, 2);
    const auto settings = tierSettings(tier);
    targetFrameRate = settings.frameRate;
    geometryStep = settings.geometryStep;
}

void VisualQuality::selectMode(int comboId) noexcept
{
    mode = std::clamp(comboId - 1, 0, 3);
    consecutiveLateFrames = 0;
    consecutiveOnTimeFrames = 0;
    if (mode == low)
        applyTier(2);
    else if (mode == medium)
        applyTier(1);
    else if (mode == high)
        applyTier(0);
    else
        applyTier(tier); // AUTO starts from wherever the machine was
}

bool VisualQuality::tick(double now) noexcept
{
    if (hasPreviousTick)
    {
        ++frames;
        const double delta = now - previousTick;
        // 12 % slack so ordinary timer jitter does not count as a late frame.
        if (delta > (1000.0 / timerRate) * 1.12)
        {
            ++lateFrames;
            consecutiveOnTimeFrames = 0;
            const int before = consecutiveLateFrames++;
            if (mode == automatic && before >= 2)
            {
                applyTier(std::min(tier + 1, 2));
                consecutiveLateFrames = 0;
            }
        }
        else
        {
            consecutiveLateFrames = 0;
            const int before = consecutiveOnTimeFrames++;
            if (mode == automatic && before >= 179)
            {
                applyTier(std::max(tier - 1, 0));
                consecutiveOnTimeFrames = 0;
            }
        }
    }
    hasPreviousTick = true;
    previousTick = now;
    return targetFrameRate != timerRate;
}
} // namespace sorvane
