#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace knurlkit
{
// Carries a second launch's command line to the running instance. JUCE's InterProcessLock decides
// which process runs, but on Linux JUCE's broadcast of the command line does nothing, so the owner
// listens on a local socket with a machine-wide name (like the lock) and the second launch sends
// its command line there before it ends.
class SingleInstanceChannel
{
public:
    using MessageCallback = std::function<void(const juce::String& commandLine)>;

    explicit SingleInstanceChannel(juce::String channelName);
    ~SingleInstanceChannel();

    // Owner side: each received command line is passed to onMessage on the message thread.
    bool startListening(MessageCallback onMessage, juce::String& error);
    bool isListening() const noexcept { return listenFd >= 0; }

    // Second launch: connects (retrying until timeoutMs while the owner may still be starting) and
    // sends the command line.
    static bool sendToRunningInstance(const juce::String& channelName, const juce::String& commandLine,
                                      int timeoutMs, juce::String& error);

    // Upper bound of one message; a longer one is cut.
    static constexpr int maxMessageBytes = 64 * 1024;

private:
    void acceptPendingConnection();

    juce::String name;
    MessageCallback callback;
    int listenFd = -1;

    SingleInstanceChannel(const SingleInstanceChannel&) = delete;
    SingleInstanceChannel& operator=(const SingleInstanceChannel&) = delete;
};
} // namespace knurlkit
