#pragma once

namespace sorvane
{
// The editor's visual-quality tiers and the adaptive frame rate. Timestamps come from the caller,
// so the behaviour can be driven without a real clock.
class VisualQuality
{
public:
    enum Mode
    {
        automatic = 0,
        high = 1,
        medium = 2,
        low = 3
    };

    struct Tier
    {
        int frameRate;
        int geometryStep;
    };
    static Tier tierSettings(int tier) noexcept;

    // The visual-quality combo's item id (1 AUTO, 2 HIGH, 3 MED, 4 LOW).
    void selectMode(int comboId) noexcept;

    // One timer tick at `nowMilliseconds`. Returns true when the timer should be restarted at
    // getTargetFrameRate(); the caller then reports it with timerRestarted().
    bool tick(double nowMilliseconds) noexcept;
    void timerRestarted(int rate) noexcept { timerRate = rate; }

    int getMode() const noexcept { return mode; }
    int getTier() const noexcept { return tier; }
    int getTargetFrameRate() const noexcept { return targetFrameRate; }
    int getGeometryStep() const noexcept { return geometryStep; }
    int getTimerRate() const noexcept { return timerRate; }
    int getFramesCounted() const noexcept { return frames; }
    int getLateFramesCounted() const noexcept { return lateFrames; }

private:
    void applyTier(int newTier) noexcept;

    int mode = automatic;
    int tier = 0;
    int targetFrameRate = 60;
    int geometryStep = 1;
    int timerRate = 60;

    bool hasPreviousTick = false;
    double previousTick = 0.0;
    int frames = 0, lateFrames = 0;
    int consecutiveLateFrames = 0, consecutiveOnTimeFrames = 0;
};
} // namespace sorvane
