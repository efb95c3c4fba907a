#pragma once

#include "projects/CreatorProjectData.h"
#include "transport/LoadedSample.h"

#include <cstdint>
#include <memory>

namespace sorvane
{
class SourceLoadJob;

// A project read, resolved and decoded on a worker, waiting to be applied as a whole on the message
// thread. Move-only: exactly one owner decides whether it is published or discarded.
struct PreparedCreatorProject
{
    CreatorProjectData data;
    juce::File projectFile;
    juce::File sourceFile; // empty: the project has no source
    std::shared_ptr<const LoadedSample> sample;
    std::uint64_t generation = 0;
    SourceLoadJob* job = nullptr; // not owned; the source library keeps it until it is terminal

    PreparedCreatorProject() = default;
    PreparedCreatorProject(PreparedCreatorProject&&) = default;
    PreparedCreatorProject& operator=(PreparedCreatorProject&&) = default;
    PreparedCreatorProject(const PreparedCreatorProject&) = delete;
    PreparedCreatorProject& operator=(const PreparedCreatorProject&) = delete;
};
} // namespace sorvane
