#pragma once

#include "dsp/DspSettings.h"
#include "processor/ParameterLayout.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace sorvane
{
// The live parameter values, in parameterIds order.
using RawParameterValues = std::array<std::atomic<float>*, numParameters>;

// Builds one block's settings: unit conversion, macro contributions gated by the lock word, and
// the sync rule. Realtime safe: reads each atomic once, allocates nothing, takes no lock.
DspSettings readDspSettings(const RawParameterValues& values, std::uint64_t lockWord,
                            bool tempoValid) noexcept;
} // namespace sorvane
