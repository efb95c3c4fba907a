#pragma once

#include <juce_core/juce_core.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace sorvane::test
{
// Makes a folder refuse new entries for its lifetime. Permissions do not stop root, so as root the
// folder is made immutable instead (which also stops renames into it). isLocked() is false where
// neither works, for the caller to skip with a reason.
class UnwritableFolder
{
public:
    explicit UnwritableFolder(juce::File folderToLock) : folder(std::move(folderToLock))
    {
        if (::geteuid() == 0)
            immutable = locked = run("chattr +i");
        else
            locked = ::chmod(folder.getFullPathName().toRawUTF8(), 0555) == 0;
        // Proves the lock instead of trusting it: a file must fail to appear.
        if (locked)
        {
            const auto probe = folder.getChildFile(".probe");
            if (probe.create().wasOk())
            {
                probe.deleteFile();
                locked = false;
            }
        }
    }

    ~UnwritableFolder()
    {
        if (immutable)
            run("chattr -i");
        else
            ::chmod(folder.getFullPathName().toRawUTF8(), 0755);
    }

    bool isLocked() const noexcept { return locked; }

    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

private:
    bool run(const char* command) const
    {
        const auto line = juce::String(command) + " " + folder.getFullPathName().quoted() + " 2>/dev/null";
        return std::system(line.toRawUTF8()) == 0;
    }

    juce::File folder;
    bool immutable = false, locked = false;
};
} // namespace sorvane::test
