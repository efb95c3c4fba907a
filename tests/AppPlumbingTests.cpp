#include "app/QuitSignalWatcher.h"
#include "app/SingleInstanceChannel.h"

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace
{
juce::String uniqueChannelName()
{
    return "SorvaneTest." + juce::String(juce::Random::getSystemRandom().nextInt64());
}

// Runs the message loop until the condition holds or the time is up.
template <typename Condition>
bool pumpUntil(Condition condition, int timeoutMs = 3000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)timeoutMs;
    while (!condition() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    return condition();
}

bool handlerIsDefault(int signalNumber)
{
    struct sigaction current = {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}
} // namespace

TEST(SingleInstanceChannel, DeliversEachCommandLineOnTheMessageThread)
{
    const auto name = uniqueChannelName();
    knurlkit::SingleInstanceChannel owner(name);
    juce::StringArray received;
    bool onMessageThread = true;

    juce::String error;
    ASSERT_TRUE(owner.startListening(
        [&](const juce::String& message)
        {
            onMessageThread =
                onMessageThread && juce::MessageManager::getInstance()->isThisTheMessageThread();
            received.add(message);
        },
        error))
        << error;

    // A second owner cannot take the same name: only one instance listens.
    knurlkit::SingleInstanceChannel rival(name);
    juce::String rivalError;
    EXPECT_FALSE(rival.startListening([](const juce::String&) {}, rivalError));
    EXPECT_TRUE(rivalError.startsWith("Could not")) << rivalError;

    const juce::String messages[] = {"Sorvane/--release-smoke-report=\"/tmp/a b.json\"", "Sorvane/",
                                     "Sorvane/" + juce::String::repeatedString("x", 20000) + " \xc3\xa9"};
    for (const auto& message : messages)
    {
        // Sent from another thread, as from another process: the owner's loop must be free to accept.
        bool sent = false;
        juce::String sendError;
        std::thread sender(
            [&] {
                sent = knurlkit::SingleInstanceChannel::sendToRunningInstance(name, message, 2000, sendError);
            });
        const auto expectedCount = received.size() + 1;
        EXPECT_TRUE(pumpUntil([&] { return received.size() == expectedCount; }));
        sender.join();
        EXPECT_TRUE(sent) << sendError;
    }

    ASSERT_EQ(received.size(), 3);
    EXPECT_EQ(received[0], messages[0]);
    EXPECT_EQ(received[1], messages[1]);
    EXPECT_EQ(received[2], juce::CharPointer_UTF8(messages[2].toRawUTF8()));
    EXPECT_TRUE(onMessageThread);
}

TEST(SingleInstanceChannel, SendingWithNobodyListeningFailsAfterTheTimeout)
{
    juce::String error;
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_FALSE(
        knurlkit::SingleInstanceChannel::sendToRunningInstance(uniqueChannelName(), "Sorvane/", 300, error));
    const auto elapsed = juce::Time::getMillisecondCounter() - start;
    EXPECT_GE(elapsed, 300u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_TRUE(error.startsWith("The running instance did not answer")) << error;
}

TEST(SingleInstanceChannel, AnOwnerThatStartsLateIsStillReached)
{
    const auto name = uniqueChannelName();
    juce::String error;
    bool sent = false;
    std::thread sender(
        [&] { sent = knurlkit::SingleInstanceChannel::sendToRunningInstance(name, "late", 3000, error); });

    juce::Thread::sleep(400);
    knurlkit::SingleInstanceChannel owner(name);
    juce::String received, listenError;
    ASSERT_TRUE(owner.startListening([&](const juce::String& m) { received = m; }, listenError))
        << listenError;
    EXPECT_TRUE(pumpUntil([&] { return received.isNotEmpty(); }));
    sender.join();
    EXPECT_TRUE(sent) << error;
    EXPECT_EQ(received, "late");
}

TEST(QuitSignalWatcher, TermAndIntBecomeACallOnTheMessageThreadAndDefaultsReturnAfterwards)
{
    for (auto signalNumber : {SIGTERM, SIGINT})
    {
        SCOPED_TRACE(signalNumber == SIGTERM ? "SIGTERM" : "SIGINT");
        int calls = 0;
        bool onMessageThread = false;
        {
            knurlkit::QuitSignalWatcher watcher(
                [&]
                {
                    ++calls;
                    onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
                });
            ASSERT_TRUE(watcher.isActive());
            EXPECT_FALSE(handlerIsDefault(SIGTERM));
            EXPECT_FALSE(handlerIsDefault(SIGINT));

            // Two signals before the loop runs still make one request at least, never a crash.
            ASSERT_EQ(::raise(signalNumber), 0);
            ASSERT_EQ(::raise(signalNumber), 0);
            EXPECT_EQ(calls, 0) << "the handler itself must not call back";
            EXPECT_TRUE(pumpUntil([&] { return calls > 0; }));
            EXPECT_TRUE(onMessageThread);
        }
        EXPECT_TRUE(handlerIsDefault(SIGTERM));
        EXPECT_TRUE(handlerIsDefault(SIGINT));
    }
}
