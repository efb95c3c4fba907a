#include "app/QuitSignalWatcher.h"

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <csignal>

namespace
{
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
