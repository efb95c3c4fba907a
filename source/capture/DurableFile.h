#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

namespace sorvane
{
// What makes a finished write survive a crash or power cut right after it: the file's bytes on
// disk before it is renamed into place, and the rename itself recorded in its folder.
bool syncFileToDisk(const juce::File& file);
bool syncFolderToDisk(const juce::File& folder);

// The longest name one folder entry may have on Linux file systems (NAME_MAX), in bytes.
inline constexpr int maxFileNameBytes = 255;

// prefix + as much of name as fits + suffix, at most maxFileNameBytes of UTF-8; name is cut between
// two characters, never inside one. Empty when prefix and suffix alone are too long.
juce::String fileNameWithin(const juce::String& prefix, const juce::String& name, const juce::String& suffix);

// A hidden name beside target that no other writer, in this process or another, will pick; in the
// target's own folder so the publishing rename never crosses a file system. It is "." + the start of
// target's name + ".partial-" + 16 random hex digits + target's extension, and fits in a folder entry
// however long target's own name is.
juce::File temporaryFileBeside(const juce::File& target);

// Creates file, which must not exist yet, and writes the bytes into it, checking every write and the
// close. Unlike juce::File::replaceWithData it puts no temporary of its own beside file, whose name may
// already be as long as a name can be.
bool writeNewFile(const juce::File& file, const void* data, size_t size);

// Syncs temporary, renames it over target in one step and syncs the folder. temporary must sit in
// target's folder. A failure before the rename leaves target untouched and temporary for the caller;
// false after the rename means the folder could not be synced, so the new target may not survive a
// power cut.
bool replaceFileDurably(const juce::File& temporary, const juce::File& target);

// Syncs every file and folder below staging, renames staging to destination (never over anything
// that exists there) and syncs the parent. Both must share one parent.
bool publishFolderDurably(const juce::File& staging, const juce::File& destination);
// The text of errno value code, with what it means for the person reading it when the disk is full.
juce::String describeWriteError(int code);

// A file stream that hides nothing: JUCE's FileOutputStream takes a short write for a whole one and
// drops the result of seeks inside its writers. This one writes through a POSIX descriptor, loops
// on partial writes, and keeps the first failure of any write, seek, flush, sync or close with
// errno's text. It creates the file or empties an existing one; it never follows a link.
class CheckedFileOutputStream final : public juce::OutputStream
{
public:
    explicit CheckedFileOutputStream(const juce::File& fileToCreate, size_t bufferBytes = 1 << 16);
    ~CheckedFileOutputStream() override;

    bool openedOk() const noexcept { return fd >= 0; }
    bool failed() const noexcept { return errorCode != 0; }
    // errno of the first failure, 0 when there was none.
    int firstErrorCode() const noexcept { return errorCode; }
    // The file's expected length: the furthest byte written.
    juce::int64 bytesWritten() const noexcept { return furthest; }
    // errno's text for the first failure, saying plainly when the disk is full.
    juce::String failureReason() const { return describeWriteError(errorCode); }

    void flush() override;
    bool setPosition(juce::int64 newPosition) override;
    juce::int64 getPosition() override { return position; }
    bool write(const void* data, size_t numBytes) override;

    // Writes what is buffered, syncs and closes, then checks that the file on disk is as long as
    // every byte written. False with a sentence (no full stop) when anything failed.
    bool finish(juce::String& reason);

private:
    bool writeOut(const char* data, size_t size);
    bool fail(int code);

    juce::File file;
    int fd = -1;
    juce::HeapBlock<char> buffer;
    size_t capacity = 0, used = 0;
    juce::int64 position = 0, furthest = 0;
    int errorCode = 0;
};

// A stream for juce::AudioFormatWriter, which deletes the stream it is given: forwards everything to
// target, which stays with the caller so it can be checked after the writer is gone.
std::unique_ptr<juce::OutputStream> borrowStream(juce::OutputStream& target);

// Whether name is a temporary that temporaryFileBeside could have drawn for target, or for such a
// temporary in turn.
bool isTemporaryNameFor(const juce::String& name, const juce::File& target);

// Removes temporaries of target that a killed writer left behind: names exactly as temporaryFileBeside
// draws them for target, plain files owned by this user, last changed before this process started and
// not locked by a writer still holding them. Nothing else beside target is touched. Returns how many
// were removed.
int sweepStaleTemporaries(const juce::File& target);
// The same for a writer with a naming of its own: isOurs says which names beside target it draws.
int sweepStaleTemporaries(const juce::File& target, const std::function<bool(const juce::String&)>& isOurs);

// The sentence for a write of target that failed for reason: the old file, if any, is unchanged.
juce::String unwrittenFileSentence(const juce::File& target, const juce::String& reason);

// Finishes stream (written into temporary), checks it and renames temporary over target. On any
// failure temporary is removed, target stays as it was and error says why.
bool publishCheckedFile(CheckedFileOutputStream& stream, const juce::File& temporary,
                        const juce::File& target, juce::String& error);

// Writes the bytes over target through a checked temporary beside it, sweeping stale temporaries
// first. target is replaced only by the complete bytes.
bool writeFileDurably(const juce::File& target, const void* data, size_t size, juce::String& error);

// Copies source over target through a checked temporary beside target, sweeping stale temporaries
// first. target is replaced only by a complete copy.
bool copyFileDurably(const juce::File& source, const juce::File& target, juce::String& error);
} // namespace sorvane
