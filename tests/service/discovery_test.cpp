// Discovery against the scripted DNS-SD library built beside this program: the
// library named for the platform in the test's directory is the full double,
// "three/" holds a build that lacks DNSServiceRefSockFD.

#include "discovery/discovery.h"
#include "discovery/dynamic_library.h"
#include "net/net_socket.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

const uint32_t LOOPBACK = 0x7F000001;

// Whether the partial build of the library is still mapped into the process.
bool ThreeNameLibraryLoaded()
{
#ifdef _WIN32
    return GetModuleHandleA(DISCOVERY_LIBRARY_NAME) != nullptr;
#else
    std::string path = std::string("three/") + DISCOVERY_LIBRARY_NAME;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
#endif
}

class DiscoveryTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(StartNetworking());
        // A handle of the test's own keeps the double loaded across the
        // service's load and unload, so its counters can be read afterwards.
        control = OpenLibrary(DISCOVERY_LIBRARY_NAME);
        ASSERT_NE(control, nullptr);
        reset = Find<void (*)()>("DoubleReset");
        setReply = Find<void (*)(const char*)>("DoubleSetReply");
        resolveCount = Find<int (*)()>("DoubleResolveCount");
        liveReferences = Find<int (*)()>("DoubleLiveReferences");
        lastRequest = Find<const char* (*)()>("DoubleLastRequest");
        deliver = Find<bool (*)(const char*, unsigned)>("DoubleDeliver");
        reset();
        ASSERT_EQ(LoadDiscoveryLibrary(), 0);
        DiscoveryAvailable = true;
    }

    void TearDown() override
    {
        UnloadDiscoveryLibrary();
        if (control != nullptr) {
            EXPECT_EQ(liveReferences(), 0) << "a resolve reference leaked";
            CloseLibrary(control);
        }
    }

    template <typename Fn>
    Fn Find(const char* name)
    {
        LibraryProc proc = FindLibrarySymbol(control, name);
        EXPECT_NE(proc, nullptr) << name;
        return reinterpret_cast<Fn>(proc);
    }

    bool Poll()
    {
        address = 0;
        port = 0;
        return PollResolve(address, port);
    }

    LibraryHandle control = nullptr;
    void (*reset)() = nullptr;
    void (*setReply)(const char*) = nullptr;
    int (*resolveCount)() = nullptr;
    int (*liveReferences)() = nullptr;
    const char* (*lastRequest)() = nullptr;
    bool (*deliver)(const char*, unsigned) = nullptr;
    uint32_t address = 0;
    uint16_t port = 0;
};

TEST_F(DiscoveryTest, OneOutstandingResolveWithThePublishedArguments)
{
    setReply("pending");
    StartResolve();
    StartResolve();
    EXPECT_EQ(resolveCount(), 1);
    EXPECT_STREQ(lastRequest(), "0 0 mobile _ovalix._tcp. local null");

    // No reply yet: polls find nothing and further starts add no resolve.
    EXPECT_FALSE(Poll());
    StartResolve();
    EXPECT_FALSE(Poll());
    EXPECT_EQ(resolveCount(), 1);

    ASSERT_TRUE(deliver("127.0.0.1", 5055));
    EXPECT_FALSE(Poll());
    EXPECT_TRUE(Poll());
    EXPECT_EQ(address, LOOPBACK);
}

TEST_F(DiscoveryTest, ReplyIsHandedOutFromTheNextPollUntilStopped)
{
    // 5055 travels as the bytes 0x13 0xBF.
    setReply("reply 127.0.0.1 5055");
    StartResolve();
    EXPECT_FALSE(Poll()) << "the poll that processes the reply reports nothing";
    EXPECT_EQ(liveReferences(), 0) << "the reply ends the resolve";
    ASSERT_TRUE(Poll());
    EXPECT_EQ(address, LOOPBACK);
    EXPECT_EQ(port, 5055);

    // A start while resolved issues a fresh resolve; the held answer stays.
    setReply("pending");
    StartResolve();
    EXPECT_EQ(resolveCount(), 2);
    ASSERT_TRUE(Poll());
    EXPECT_EQ(address, LOOPBACK);
    EXPECT_EQ(port, 5055);

    StopResolve();
    EXPECT_FALSE(Poll());
    EXPECT_EQ(liveReferences(), 0);
}

TEST_F(DiscoveryTest, FailedRepliesLeaveNothingAndTheNextStartResolvesAfresh)
{
    const char* scripts[] = {
        "error -65537",                          // the reply carries an error
        "reply no-such-host.invalid 5055",       // the host target cannot be looked up
        "processfail",                           // processing the reply fails
    };
    int expectedResolves = 0;
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        setReply(script);
        StartResolve();
        ++expectedResolves;
        EXPECT_EQ(resolveCount(), expectedResolves);
        EXPECT_FALSE(Poll());
        EXPECT_FALSE(Poll());
        EXPECT_EQ(liveReferences(), 0);
    }
    setReply("reply 127.0.0.1 40000");
    StartResolve();
    EXPECT_EQ(resolveCount(), expectedResolves + 1);
    EXPECT_FALSE(Poll());
    ASSERT_TRUE(Poll());
    EXPECT_EQ(port, 40000);
}

TEST_F(DiscoveryTest, RefusedResolveIsRetriedAtTheNextStart)
{
    setReply("fail");
    StartResolve();
    EXPECT_FALSE(Poll());
    StartResolve();
    EXPECT_EQ(resolveCount(), 2);
    EXPECT_EQ(liveReferences(), 0);
}

TEST_F(DiscoveryTest, UnloadEndsAnOutstandingResolve)
{
    setReply("pending");
    StartResolve();
    EXPECT_EQ(liveReferences(), 1);
    UnloadDiscoveryLibrary();
    EXPECT_EQ(liveReferences(), 0);
    EXPECT_FALSE(DiscoveryAvailable);
}

// Needs a host name with several IPv4 addresses; tests/discovery_hosts.sh runs
// it with a hosts file that provides one.
TEST_F(DiscoveryTest, HostWithSeveralAddressesYieldsTheFirst)
{
    const char* host = getenv("OVALIX_MULTI_HOST");
    const char* first = getenv("OVALIX_MULTI_FIRST");
    if (host == nullptr || first == nullptr)
        GTEST_SKIP() << "no host with several addresses configured";
    std::string script = std::string("reply ") + host + " 5055";
    setReply(script.c_str());
    StartResolve();
    EXPECT_FALSE(Poll());
    ASSERT_TRUE(Poll());
    EXPECT_EQ(address, static_cast<uint32_t>(strtoul(first, nullptr, 16)));
}

TEST(DiscoveryLoadTest, MissingOrPartialLibraryIsNotUsed)
{
    EXPECT_EQ(LoadDiscoveryLibraryNamed("no-such-directory/no-such-library"), -1);

    std::string three = std::string("three/") + DISCOVERY_LIBRARY_NAME;
    EXPECT_FALSE(ThreeNameLibraryLoaded());
    EXPECT_EQ(LoadDiscoveryLibraryNamed(three.c_str()), -1);
    EXPECT_FALSE(ThreeNameLibraryLoaded()) << "a refused library must be unloaded";

    // Nothing is loaded, so shut-down calls are harmless.
    StopResolve();
    UnloadDiscoveryLibrary();

    // A later load still works: the refusal left no state behind.
    ASSERT_TRUE(StartNetworking());
    EXPECT_EQ(LoadDiscoveryLibrary(), 0);
    UnloadDiscoveryLibrary();
}

}  // namespace
