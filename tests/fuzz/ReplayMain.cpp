// Replays seed and regression inputs through a fuzz target, so every build checks them; also writes the
// target's seeds. Usage: REPLAY [--write-seeds FOLDER] INPUT_FILE_OR_FOLDER...
#include "FuzzSupport.h"

#include <iostream>

int main(int argc, char** argv)
{
    sorvane::fuzz::ensureJuce();
    int replayed = 0;
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        if (arg == "--write-seeds" && i + 1 < argc)
        {
            const juce::File folder(juce::File::getCurrentWorkingDirectory().getChildFile(argv[++i]));
            folder.createDirectory();
            sorvaneFuzzWriteSeeds(folder);
            continue;
        }

        const auto path = juce::File::getCurrentWorkingDirectory().getChildFile(arg);
        juce::Array<juce::File> inputs;
        if (path.isDirectory())
            inputs = path.findChildFiles(juce::File::findFiles, true);
        else if (path.existsAsFile())
            inputs.add(path);
        inputs.sort();

        for (const auto& input : inputs)
        {
            if (input.getFileName().startsWithChar('.'))
                continue;
            juce::MemoryBlock bytes;
            if (!input.loadFileAsData(bytes))
            {
                std::cerr << "cannot read " << input.getFullPathName() << "\n";
                return 1;
            }
            std::cout << "replay " << input.getFileName() << std::endl;
            LLVMFuzzerTestOneInput(static_cast<const std::uint8_t*>(bytes.getData()), bytes.getSize());
            ++replayed;
        }
    }
    std::cout << replayed << " inputs replayed" << std::endl;
    return replayed > 0 ? 0 : 1;
}
