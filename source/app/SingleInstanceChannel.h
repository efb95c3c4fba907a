#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>

namespace knurlkit
{
// Carries a second launch's command line to the running instance of the same user. The instance lock
// (see PrivateRuntimeFolder.h) decides which process runs; the owner listens on a Unix socket file in
// the user's private runtime folder, and the second launch sends its command line there before it
// ends. Both ends check that the other runs as the same user: a message from anyone else is dropped,
// and a command line is never handed to another user's process.
class SingleInstanceChannel
{
public:
    using MessageCallback = std::function<void(const juce::String& commandLine)>;
    using RefusalCallback = std::function<void(const juce::String& sentence)>;

    explicit SingleInstanceChannel(juce::File socketFile);
    // Stops listening and removes the socket file, if it is still the one this object made.
    ~SingleInstanceChannel();

    // Owner side: each received command line is passed to onMessage on the message thread; a
    // connection from another user is closed unread and described to onRefusal. Refused while
    // another process answers on the socket file; a socket file nobody answers on is replaced.
    bool startListening(MessageCallback onMessage, RefusalCallback onRefusal, juce::String& error);
    bool isListening() const noexcept { return listenFd >= 0; }

    // Second launch: connects (retrying until timeoutMs while the owner may still be starting) and
    // sends the command line.
    static bool sendToRunningInstance(const juce::File& socketFile, const juce::String& commandLine,
                                      int timeoutMs, juce::String& error);

    // Upper bound of one message; a longer one is cut.
    static constexpr int maxMessageBytes = 64 * 1024;

private:
    void acceptPendingConnection();

    juce::File file;
    MessageCallback callback;
    RefusalCallback refusalCallback;
    int listenFd = -1;
    // The socket file this object bound, to remove exactly that one.
    std::uint64_t boundDevice = 0, boundInode = 0;

    SingleInstanceChannel(const SingleInstanceChannel&) = delete;
    SingleInstanceChannel& operator=(const SingleInstanceChannel&) = delete;
};
} // namespace knurlkit
