// The processor's preset members: applying browser entries with the level lock, favourites, the
// recent list and the audition session. The catalog does the file work.
#include "presets/FactoryPresets.h"
#include "presets/PresetFileIo.h"
#include "processor/ParameterState.h"
#include "processor/SorvaneAudioProcessor.h"

namespace
{
const juce::Identifier presetLevelLockId{"presetLevelLock"};
const juce::Identifier recentPresetHistory{"recentPresetHistory"};
constexpr int maxRecentPresets = 10;
// Ten entries of a path and a name each; anything far larger did not come from here.
constexpr int maxRecentHistoryCharacters = 64 * 1024;

// JUCE's JSON parser recurses once per nesting level, and overflows a signed integer on a long number;
// text from a host or a file could do either. The list holds shallow objects with small integers, so
// anything deeper, and any number that is not a short plain integer, is refused before JUCE parses it.
bool isSafeRecentList(const juce::String& text, int maxDepth)
{
    int depth = 0, digits = 0;
    bool inString = false, escaped = false;
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
    {
        const auto c = *p;
        if (!inString && juce::CharacterFunctions::isDigit(c))
        {
            if (++digits > 6)
                return false;
            continue;
        }
        // A fraction or an exponent ("1e10", "1.5") is no integer of ours.
        if (!inString && (c == '.' || c == '+' || (digits > 0 && (c == 'e' || c == 'E'))))
            return false;
        digits = 0;
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
        {
            if (++depth > maxDepth)
                return false;
        }
        else if (c == ']' || c == '}')
            --depth;
    }
    return true;
}
} // namespace

void SorvaneAudioProcessor::setPresetLevelLock(bool enabled)
{
    setLiveStateProperty(presetLevelLockId, enabled);
    presetLevelLock.store(enabled);
    markProjectDirty();
}

bool SorvaneAudioProcessor::isPresetLevelLockEnabled() const
{
    // The tree is the message thread's; a host's own thread reads the copy its last change left.
    if (!sorvane::isOnMessageThread())
        return presetLevelLock.load();
    const bool enabled = (bool)getLiveStateProperty(presetLevelLockId);
    presetLevelLock.store(enabled);
    return enabled;
}

bool SorvaneAudioProcessor::applyBrowserPreset(const sorvane::PresetDescriptor& entry, juce::String& error)
{
    error.clear();
    if (!entry.valid)
    {
        error = entry.error.isNotEmpty() ? entry.error : "This preset is quarantined and cannot be loaded.";
        return false;
    }

    if (entry.kind == sorvane::PresetKind::Factory)
    {
        if ((unsigned)entry.factoryIndex >= (unsigned)sorvane::numFactoryPrograms)
        {
            error = "The selected factory preset is no longer available.";
            return false;
        }
        beginPresetExperiment();
        setCurrentProgram(entry.factoryIndex);
        return true;
    }

    const bool wasActive = isPresetExperimentActive();
    beginPresetExperiment();
    juce::ValueTree tree;
    const auto read =
        sorvane::readXmlTree(entry.path, sorvane::maxPresetFileBytes, sorvane::stateIds::stateType, tree);
    if (read != sorvane::PresetReadResult::ok)
    {
        error = read == sorvane::PresetReadResult::otherRoot
                    ? "The preset belongs to a different product or is damaged."
                    : "The selected file is not a valid Sorvane preset.";
        if (!wasActive)
            clearPresetExperiment();
        return false;
    }

    tree.setProperty(presetLevelLockId, isPresetLevelLockEnabled(), nullptr);
    tree.setProperty(recentPresetHistory, getLiveStateProperty(recentPresetHistory), nullptr);
    if (isPresetLevelLockEnabled())
    {
        for (const auto* id : {"mix", "output"})
        {
            auto child = tree.getChildWithProperty(sorvane::stateIds::id, id);
            if (!child.isValid())
            {
                child = juce::ValueTree(sorvane::stateIds::param);
                child.setProperty(sorvane::stateIds::id, id, nullptr);
                tree.appendChild(child, nullptr);
            }
            child.setProperty(sorvane::stateIds::value, (double)parameters.getRawParameterValue(id)->load(),
                              nullptr);
        }
    }
    applyParameterSnapshot(tree);
    endTresselSession();
    rememberRecentPreset(-1, entry.path);
    pushMutationHistory(captureParameterSnapshot());
    refreshUserPresets(false);
    return true;
}

bool SorvaneAudioProcessor::setPresetFavourite(const juce::String& id, bool favourite, juce::String& error)
{
    return presetCatalog->setFavourite(id, favourite, error);
}

void SorvaneAudioProcessor::rememberRecentPreset(int program, const juce::File& file)
{
    const auto name = program >= 0 ? getProgramName(program) : file.getFileNameWithoutExtension();
    juce::Array<juce::var> list;
    auto* first = new juce::DynamicObject();
    first->setProperty("program", program);
    first->setProperty("path", file.getFullPathName());
    first->setProperty("name", name);
    list.add(juce::var(first));

    for (const auto& old : getRecentPresets())
    {
        if (list.size() >= maxRecentPresets)
            break;
        if (program >= 0 && old.factoryIndex == program)
            continue;
        if (program < 0 && old.factoryIndex < 0 &&
            old.path.getFullPathName().equalsIgnoreCase(file.getFullPathName()))
            continue;
        auto* entry = new juce::DynamicObject();
        entry->setProperty("program", old.factoryIndex);
        entry->setProperty("path", old.path.getFullPathName());
        entry->setProperty("name", old.name);
        list.add(juce::var(entry));
    }
    setLiveStateProperty(recentPresetHistory, juce::JSON::toString(juce::var(list), true));
}

std::vector<sorvane::PresetDescriptor> SorvaneAudioProcessor::getRecentPresets() const
{
    std::vector<sorvane::PresetDescriptor> result;
    const auto text = getLiveStateProperty(recentPresetHistory).toString();
    if (text.isEmpty() || text.length() > maxRecentHistoryCharacters || !isSafeRecentList(text, 4))
        return result;
    const auto parsed = juce::JSON::parse(text);
    const auto* array = parsed.getArray();
    if (array == nullptr)
        return result;
    for (const auto& item : *array)
    {
        if ((int)result.size() >= maxRecentPresets)
            break;
        sorvane::PresetDescriptor d;
        d.factoryIndex = item.hasProperty("program") ? (int)item["program"] : -1;
        d.kind = d.factoryIndex < 0 ? sorvane::PresetKind::User : sorvane::PresetKind::Factory;
        const auto path = item["path"].toString();
        d.path = juce::File::isAbsolutePath(path) ? juce::File(path) : juce::File();
        d.name = item["name"].toString().substring(0, 256);
        d.valid = d.kind == sorvane::PresetKind::User
                      ? d.path != juce::File() && d.path.exists() && !d.path.isDirectory()
                      : d.factoryIndex < sorvane::numFactoryPrograms;
        result.push_back(std::move(d));
    }
    return result;
}

bool SorvaneAudioProcessor::saveUserPreset(const juce::File& file, bool replaceExisting, juce::String& error)
{
    juce::File written;
    return saveUserPreset(file, replaceExisting, written, error);
}

bool SorvaneAudioProcessor::saveUserPreset(const juce::File& file, bool replaceExisting, juce::File& written,
                                           juce::String& error)
{
    if (!sorvane::saveUserPreset(file, captureParameterSnapshot(), *this, replaceExisting, written, error))
        return false;
    refreshUserPresets(true);
    return true;
}

//======================================================================================================
void SorvaneAudioProcessor::beginPresetExperiment()
{
    if (isPresetExperimentActive())
        return;
    experimentBefore = captureParameterSnapshot();
    experimentTresselBase = tresselBase.isValid() ? tresselBase.createCopy() : juce::ValueTree();
    experimentTresselVariants.clear();
    for (const auto& variant : tresselVariants)
        experimentTresselVariants.push_back(variant.createCopy());
    experimentTresselSession = tresselController.getSnapshot();
    experimentWorkflowSeed = workflowSeed.load();
}

void SorvaneAudioProcessor::clearPresetExperiment()
{
    experimentBefore = {};
    experimentTresselBase = {};
    experimentTresselVariants.clear();
    experimentTresselSession = {};
    experimentWorkflowSeed = 0;
}

bool SorvaneAudioProcessor::revertPresetExperiment()
{
    if (!isPresetExperimentActive())
        return false;
    auto before = experimentBefore.createCopy();
    // Only a changed value is written, so an untouched property stays absent and the sound from before
    // comes back with the same digest.
    if ((bool)before.getProperty(presetLevelLockId, false) != isPresetLevelLockEnabled())
        before.setProperty(presetLevelLockId, isPresetLevelLockEnabled(), nullptr);
    if (before[recentPresetHistory] != getLiveStateProperty(recentPresetHistory))
        before.setProperty(recentPresetHistory, getLiveStateProperty(recentPresetHistory), nullptr);
    applyParameterSnapshot(before);

    tresselBase = experimentTresselBase;
    tresselVariants = experimentTresselVariants;
    if (experimentTresselSession.isValid())
        tresselController.restore(experimentTresselSession);
    else
        tresselController.clear();
    workflowSeed.store(experimentWorkflowSeed);
    pushMutationHistory(captureParameterSnapshot());
    clearPresetExperiment();
    return true;
}

bool SorvaneAudioProcessor::keepPresetExperiment()
{
    if (!isPresetExperimentActive())
        return false;
    clearPresetExperiment();
    return true;
}
