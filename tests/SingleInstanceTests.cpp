// One running instance per user: the private runtime folder the lock and the socket live in, the lock,
// and the hand-over socket with its check of the other end's user. Other users are real processes:
// a child that switches to "nobody" (only possible as root; skipped otherwise).
#include "app/PrivateRuntimeFolder.h"
#include "app/SingleInstanceChannel.h"

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
constexpr uid_t nobody = 65534;

// Runs the message loop until the condition holds or the time is up.
template <typename Condition>
bool pumpUntil(Condition condition, int timeoutMs = 3000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)timeoutMs;
    while (!condition() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    return condition();
}

// A fresh folder with mode 0700, removed afterwards.
struct PrivateFolder
{
    PrivateFolder()
    {
        folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("sorvane-instance", {}, false);
        ::mkdir(folder.getFullPathName().toRawUTF8(), 0700);
    }
    // std::filesystem, since JUCE's directory listing leaves sockets out and so never removes them.
    ~PrivateFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder.getFullPathName().toStdString(), ignored);
    }

    juce::File folder;
};

// Sets (or with nullopt unsets) an environment variable for the object's lifetime.
class ScopedVariable
{
public:
    ScopedVariable(const char* variableName, const std::optional<juce::String>& value) : name(variableName)
    {
        if (const char* old = std::getenv(name))
            previous = old;
        if (value.has_value())
            ::setenv(name, value->toRawUTF8(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (previous.has_value())
            ::setenv(name, previous->c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    const char* name;
    std::optional<std::string> previous;
};

mode_t modeOf(const juce::File& file)
{
    struct stat info
    {
    };
    return ::lstat(file.getFullPathName().toRawUTF8(), &info) == 0 ? info.st_mode : 0;
}

// A child process that runs `work` (plain system calls only: the parent has threads) and exits with
// its result; the parent waits for it.
template <typename Work>
int inChildProcess(Work work)
{
    const auto pid = ::fork();
    if (pid == 0)
        ::_exit(work());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool becomeNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
}

// Connects to a socket file and sends a message with plain system calls; 0 once connected (the other
// end may close before the message is all sent).
int connectAndSend(const std::string& path, const std::string& message)
{
    const auto fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return 2;
    (void)!::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    ::close(fd);
    return 0;
}

} // namespace

//======================================================================================================
TEST(SingleInstanceChannel, DeliversEachCommandLineOnTheMessageThreadAtShortAndLongPaths)
{
    PrivateFolder temp;
    // sun_path holds 107 bytes; the long folder's socket path is well past that.
    const juce::File folders[] = {temp.folder,
                                  temp.folder.getChildFile(juce::String::repeatedString("long folder ", 12))};
    for (const auto& folder : folders)
    {
        SCOPED_TRACE(folder.getFullPathName());
        ASSERT_TRUE(folder.createDirectory().wasOk());
        const auto socket = folder.getChildFile("instance.socket");
        knurlkit::SingleInstanceChannel owner(socket);
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
            {}, error))
            << error;
        EXPECT_EQ(modeOf(socket), (mode_t)(S_IFSOCK | 0600));

        // A second owner cannot take the socket while the first answers on it.
        knurlkit::SingleInstanceChannel rival(socket);
        juce::String rivalError;
        EXPECT_FALSE(rival.startListening([](const juce::String&) {}, {}, rivalError));
        EXPECT_EQ(rivalError, "Could not listen for other instances: another instance listens on " +
                                  socket.getFullPathName() + ".");

        const juce::String messages[] = {"Sorvane/--release-smoke-report=\"/tmp/a b.json\"", "Sorvane/",
                                         "Sorvane/" + juce::String::repeatedString("x", 20000) + " \xc3\xa9"};
        for (const auto& message : messages)
        {
            bool sent = false;
            juce::String sendError;
            std::thread sender(
                [&] {
                    sent = knurlkit::SingleInstanceChannel::sendToRunningInstance(socket, message, 2000,
                                                                                  sendError);
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
}

TEST(SingleInstanceChannel, SendingWithNobodyListeningFailsAfterTheTimeout)
{
    PrivateFolder temp;
    juce::String error;
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_FALSE(knurlkit::SingleInstanceChannel::sendToRunningInstance(
        temp.folder.getChildFile("instance.socket"), "Sorvane/", 300, error));
    const auto elapsed = juce::Time::getMillisecondCounter() - start;
    EXPECT_GE(elapsed, 300u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_TRUE(error.startsWith("The running instance did not answer")) << error;
}

TEST(SingleInstanceChannel, AnOwnerThatStartsLateIsStillReached)
{
    PrivateFolder temp;
    const auto socket = temp.folder.getChildFile("instance.socket");
    juce::String error;
    bool sent = false;
    std::thread sender(
        [&] { sent = knurlkit::SingleInstanceChannel::sendToRunningInstance(socket, "late", 3000, error); });

    juce::Thread::sleep(400);
    knurlkit::SingleInstanceChannel owner(socket);
    juce::String received, listenError;
    ASSERT_TRUE(owner.startListening([&](const juce::String& m) { received = m; }, {}, listenError))
        << listenError;
    EXPECT_TRUE(pumpUntil([&] { return received.isNotEmpty(); }));
    sender.join();
    EXPECT_TRUE(sent) << error;
    EXPECT_EQ(received, "late");
}

TEST(SingleInstanceChannel, ASocketFileNobodyAnswersOnIsReplacedAndAnythingElseIsLeftAlone)
{
    PrivateFolder temp;
    const auto socket = temp.folder.getChildFile("instance.socket");
    {
        // Left behind as by an owner that was killed: bound, then closed without removing the file.
        const auto fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socket.getFullPathName().toRawUTF8());
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        ASSERT_TRUE(S_ISSOCK(modeOf(socket)));
    }
    {
        knurlkit::SingleInstanceChannel owner(socket);
        juce::String received, error;
        ASSERT_TRUE(owner.startListening([&](const juce::String& m) { received = m; }, {}, error)) << error;
        bool sent = false;
        std::thread sender(
            [&] {
                sent = knurlkit::SingleInstanceChannel::sendToRunningInstance(socket, "after a crash", 2000,
                                                                              error);
            });
        EXPECT_TRUE(pumpUntil([&] { return received.isNotEmpty(); }));
        sender.join();
        EXPECT_TRUE(sent) << error;
        EXPECT_EQ(received, "after a crash");
    }
    // The owner removed its own socket when it ended.
    EXPECT_FALSE(socket.exists());

    ASSERT_TRUE(socket.replaceWithText("not a socket"));
    knurlkit::SingleInstanceChannel owner(socket);
    juce::String error;
    EXPECT_FALSE(owner.startListening([](const juce::String&) {}, {}, error));
    EXPECT_EQ(error,
              "Could not listen for other instances: " + socket.getFullPathName() + " is not a socket.");
    EXPECT_EQ(socket.loadFileAsString(), "not a socket");
}

TEST(SingleInstanceChannel, AnotherUsersConnectionIsDroppedUnreadAndNoCommandLineGoesToAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can run a process as another user here";

    // The folder is opened to everyone on purpose: the check of the other end must hold by itself.
    PrivateFolder temp;
    ::chmod(temp.folder.getFullPathName().toRawUTF8(), 0777);
    const auto socket = temp.folder.getChildFile("instance.socket");
    knurlkit::SingleInstanceChannel owner(socket);
    juce::StringArray received, refused;
    juce::String error;
    ASSERT_TRUE(owner.startListening([&](const juce::String& m) { received.add(m); },
                                     [&](const juce::String& sentence) { refused.add(sentence); }, error))
        << error;
    ::chmod(socket.getFullPathName().toRawUTF8(), 0666);

    const auto path = socket.getFullPathName().toStdString();
    int status = -1;
    std::thread child(
        [&] {
            status =
                inChildProcess([&] { return becomeNobody() ? connectAndSend(path, "Sorvane/x.wav") : 1; });
        });
    EXPECT_TRUE(pumpUntil([&] { return refused.size() == 1; }));
    child.join();
    EXPECT_EQ(status, 0) << "the other user's process could not even connect";
    EXPECT_TRUE(received.isEmpty()) << received.joinIntoString("|");
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(refused[0],
              "Ignored a message from another user (uid 65534) on " + socket.getFullPathName() + ".");

    // The same message from this user still arrives.
    std::thread sender(
        [&]
        { knurlkit::SingleInstanceChannel::sendToRunningInstance(socket, "Sorvane/x.wav", 2000, error); });
    EXPECT_TRUE(pumpUntil([&] { return received.size() == 1; }));
    sender.join();
    EXPECT_EQ(received, juce::StringArray("Sorvane/x.wav"));

    // The other way round: an instance of another user listening where this user looks is not told
    // anything. The child listens as nobody and reports how many bytes reached it.
    const auto theirs = temp.folder.getChildFile("theirs.socket").getFullPathName().toStdString();
    int ready[2], bytes[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(bytes), 0);
    const auto pid = ::fork();
    if (pid == 0)
    {
        if (!becomeNobody())
            ::_exit(1);
        const auto fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, theirs.c_str(), theirs.size() + 1);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(fd, 1) != 0 || ::chmod(theirs.c_str(), 0666) != 0)
            ::_exit(2);
        char one = 1;
        (void)!::write(ready[1], &one, 1);
        const auto client = ::accept(fd, nullptr, nullptr);
        char buffer[256];
        ssize_t total = 0, count = 0;
        while (client >= 0 && (count = ::read(client, buffer, sizeof(buffer))) > 0)
            total += count;
        (void)!::write(bytes[1], &total, sizeof(total));
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(bytes[1]);
    char one = 0;
    ASSERT_EQ(::read(ready[0], &one, 1), 1) << "the other user's listener did not start";
    juce::String sendError;
    EXPECT_FALSE(knurlkit::SingleInstanceChannel::sendToRunningInstance(
        juce::File(juce::String(theirs)), "Sorvane/secret.wav", 2000, sendError));
    EXPECT_EQ(sendError, "The instance listening on " + juce::String(theirs) +
                             " runs as another user; nothing was handed over.");
    ssize_t total = -1;
    EXPECT_EQ(::read(bytes[0], &total, sizeof(total)), (ssize_t)sizeof(total));
    EXPECT_EQ(total, 0);
    int childStatus = 0;
    ::waitpid(pid, &childStatus, 0);
    ::close(ready[0]);
    ::close(bytes[0]);
}

//======================================================================================================
TEST(PrivateRuntimeFolder, UsesTheRuntimeFolderOnlyWhenItIsTheUsersAloneAndFallsBackUnderHome)
{
    PrivateFolder temp;
    const auto home = temp.folder.getChildFile("home");
    ASSERT_TRUE(home.createDirectory().wasOk());
    ScopedVariable homeVariable("HOME", home.getFullPathName());
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    const auto fallback = home.getChildFile(".cache/Sorvane/runtime-" + juce::String(host));

    const auto runtimeWithMode = [&](const char* name, mode_t mode)
    {
        const auto folder = temp.folder.getChildFile(name);
        ::mkdir(folder.getFullPathName().toRawUTF8(), mode);
        ::chmod(folder.getFullPathName().toRawUTF8(), mode);
        return folder;
    };
    const auto own = runtimeWithMode("own", 0700);
    const auto open = runtimeWithMode("open", 0755);
    const auto groupReadable = runtimeWithMode("group", 0750);
    const auto aFile = temp.folder.getChildFile("a-file");
    ASSERT_TRUE(aFile.replaceWithText("x"));
    const auto link = temp.folder.getChildFile("link");
    ASSERT_EQ(::symlink(own.getFullPathName().toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);
    std::optional<juce::File> theirs;
    if (::geteuid() == 0)
    {
        theirs = runtimeWithMode("theirs", 0700);
        ASSERT_EQ(::chown(theirs->getFullPathName().toRawUTF8(), nobody, nobody), 0);
    }

    struct Case
    {
        const char* description;
        std::optional<juce::String> runtime;
        juce::File expected;
    };
    std::vector<Case> cases = {
        {"a folder of this user with mode 0700", own.getFullPathName(), own.getChildFile("Sorvane")},
        {"unset", std::nullopt, fallback},
        {"empty", juce::String(), fallback},
        {"relative", "own", fallback},
        {"open to others", open.getFullPathName(), fallback},
        {"readable by the group", groupReadable.getFullPathName(), fallback},
        {"a file", aFile.getFullPathName(), fallback},
        {"a link to a private folder", link.getFullPathName(), fallback},
        {"missing", temp.folder.getChildFile("missing").getFullPathName(), fallback},
    };
    if (theirs.has_value())
        cases.push_back({"another user's folder", theirs->getFullPathName(), fallback});

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        fallback.deleteRecursively();
        ScopedVariable runtime("XDG_RUNTIME_DIR", c.runtime);
        juce::File folder;
        juce::String error;
        ASSERT_TRUE(knurlkit::findPrivateRuntimeFolder("Sorvane", folder, error)) << error;
        EXPECT_EQ(folder, c.expected);
        EXPECT_EQ(modeOf(folder), (mode_t)(S_IFDIR | 0700));
    }
    EXPECT_FALSE(open.getChildFile("Sorvane").exists());
}

TEST(PrivateRuntimeFolder, AFallbackFolderOfThisUserIsTightenedAndAnyOtherIsRefused)
{
    PrivateFolder temp;
    const auto home = temp.folder.getChildFile("home");
    ScopedVariable homeVariable("HOME", home.getFullPathName());
    ScopedVariable runtime("XDG_RUNTIME_DIR", std::nullopt);
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    const auto fallback = home.getChildFile(".cache/Sorvane/runtime-" + juce::String(host));
    const auto elsewhere = temp.folder.getChildFile("elsewhere");
    ::mkdir(elsewhere.getFullPathName().toRawUTF8(), 0700);

    struct Case
    {
        const char* description;
        std::function<bool()> prepare; // false: not possible here
        juce::String sentenceEnd;      // empty: the folder is used
    };
    const Case cases[] = {
        {"an open folder of this user",
         [&] {
             return fallback.createDirectory().wasOk() &&
                    ::chmod(fallback.getFullPathName().toRawUTF8(), 0777) == 0;
         },
         {}},
        {"a link to a private folder",
         [&]
         {
             return fallback.getParentDirectory().createDirectory().wasOk() &&
                    ::symlink(elsewhere.getFullPathName().toRawUTF8(),
                              fallback.getFullPathName().toRawUTF8()) == 0;
         },
         "is not a folder."},
        {"another user's folder",
         [&]
         {
             return ::geteuid() == 0 && fallback.createDirectory().wasOk() &&
                    ::chown(fallback.getFullPathName().toRawUTF8(), nobody, nobody) == 0;
         },
         "belongs to another user."},
        {"a home that is a file", [&] { return home.replaceWithText("not a folder"); },
         "cannot be used: it cannot be created (Not a directory)."},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        home.deleteRecursively();
        home.deleteFile();
        if (!c.prepare())
        {
            std::cout << "not checked here: " << c.description << std::endl;
            continue;
        }
        juce::File folder;
        juce::String error;
        const bool found = knurlkit::findPrivateRuntimeFolder("Sorvane", folder, error);
        if (c.sentenceEnd.isEmpty())
        {
            ASSERT_TRUE(found) << error;
            EXPECT_EQ(folder, fallback);
            EXPECT_EQ(modeOf(fallback), (mode_t)(S_IFDIR | 0700));
        }
        else
        {
            EXPECT_FALSE(found);
            EXPECT_TRUE(error.startsWith("The folder ")) << error;
            EXPECT_TRUE(error.contains(" for finding a running Sorvane ")) << error;
            EXPECT_TRUE(error.endsWith(c.sentenceEnd)) << error;
        }
    }
    EXPECT_EQ(modeOf(elsewhere), (mode_t)(S_IFDIR | 0700));
}

TEST(InstanceLock, IsHeldUntilItsOwnerEndsAndTakenOnlyThen)
{
    PrivateFolder temp;
    const auto lockFile = temp.folder.getChildFile("instance.lock");
    const auto path = lockFile.getFullPathName().toStdString();

    // Another process holds the lock until the pipe closes.
    int hold[2], ready[2];
    ASSERT_EQ(::pipe(hold), 0);
    ASSERT_EQ(::pipe(ready), 0);
    const auto pid = ::fork();
    if (pid == 0)
    {
        ::close(hold[1]);
        const auto fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const char locked = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
        (void)!::write(ready[1], &locked, 1);
        char end;
        (void)!::read(hold[0], &end, 1);
        ::_exit(0);
    }
    ::close(hold[0]);
    ::close(ready[1]);
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ASSERT_EQ(locked, 1);

    juce::String error;
    {
        knurlkit::InstanceLock lock(lockFile);
        EXPECT_EQ(lock.acquire(error), knurlkit::InstanceLock::State::heldElsewhere) << error;
    }
    ::close(hold[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(ready[0]);

    knurlkit::InstanceLock lock(lockFile);
    EXPECT_EQ(lock.acquire(error), knurlkit::InstanceLock::State::owned) << error;
    EXPECT_EQ(modeOf(lockFile), (mode_t)(S_IFREG | 0600));
    // Now this process holds it: another process cannot take it.
    EXPECT_EQ(inChildProcess(
                  [&]
                  {
                      const auto fd = ::open(path.c_str(), O_RDWR);
                      struct flock probe = {};
                      probe.l_type = F_WRLCK;
                      probe.l_whence = SEEK_SET;
                      return fd >= 0 && ::fcntl(fd, F_SETLK, &probe) != 0 &&
                                     (errno == EAGAIN || errno == EACCES)
                                 ? 0
                                 : 1;
                  }),
              0);

    const auto link = temp.folder.getChildFile("link.lock");
    ASSERT_EQ(::symlink(path.c_str(), link.getFullPathName().toRawUTF8()), 0);
    knurlkit::InstanceLock throughALink(link);
    EXPECT_EQ(throughALink.acquire(error), knurlkit::InstanceLock::State::failed);
    EXPECT_EQ(error, "Could not open the instance lock " + link.getFullPathName() +
                         ": Too many levels of symbolic links.");
}
