#include "platform/x11/X11Connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/log/CaptureSink.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/X11Selection.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {
namespace {

constexpr Window kNoSuchWindow = 0x7ffff0;

class X11ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(display.start());
        auto opened = X11Connection::open(display.displayName());
        ASSERT_TRUE(opened) << opened.error().description;
        conn = std::move(*opened);
    }
    testsupport::XvfbDisplay display;
    std::unique_ptr<X11Connection> conn;
};

TEST(X11ConnectionOpen, FailsWithoutADisplay) {
    auto none = X11Connection::open("");
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().caseName, "noDisplay");
    auto viaEnv = X11Connection::forThisThread(Environment());
    ASSERT_FALSE(viaEnv);
    EXPECT_EQ(viaEnv.error().caseName, "noDisplay");
    auto missing = X11Connection::open(":9999");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().caseName, "cannotOpen");
}

TEST_F(X11ConnectionTest, CachesAtomsAndLooksUpWithoutCreating) {
    XAtomId a = conn->atom("PARLOWEN_TEST_ATOM");
    EXPECT_NE(a, 0u);
    EXPECT_EQ(conn->atom("PARLOWEN_TEST_ATOM"), a);
    EXPECT_EQ(conn->atomName(a), "PARLOWEN_TEST_ATOM");
    EXPECT_EQ(conn->existingAtom("PARLOWEN_NEVER_INTERNED_ATOM"), 0u);
    EXPECT_EQ(conn->existingAtom("PARLOWEN_TEST_ATOM"), a);
    EXPECT_EQ(conn->atom("WM_CLASS"), XA_WM_CLASS);
}

TEST_F(X11ConnectionTest, ErrorTrapsCatchTheirOwnErrorsAndTheRestIsLoggedNotFatal) {
    ScopedLogCapture log;
    Display* d = conn->display();
    auto before = detail::untrappedX11Errors();
    {
        X11ErrorTrap outer(*conn);
        {
            X11ErrorTrap inner(*conn);
            XMapWindow(d, kNoSuchWindow);
            auto error = inner.check();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->errorCode, BadWindow);
            EXPECT_EQ(error->resourceId, kNoSuchWindow);
            EXPECT_FALSE(inner.check()) << "check() hands an error over once";
            XUnmapWindow(d, kNoSuchWindow);
        }
        EXPECT_FALSE(outer.check()) << "the inner trap's errors stay with it";
        XDestroyWindow(d, kNoSuchWindow);
        EXPECT_TRUE(outer.check());
    }
    EXPECT_EQ(detail::untrappedX11Errors(), before);

    // Xlib's default handler would end the process here.
    XMapWindow(d, kNoSuchWindow);
    conn->sync();
    EXPECT_EQ(detail::untrappedX11Errors(), before + 1);
    EXPECT_TRUE(log->contains("unexpected X error", LogLevel::error));
    EXPECT_FALSE(conn->broken());
}

TEST_F(X11ConnectionTest, ReadsTextListAndNumberProperties) {
    Display* d = conn->display();
    Window w = XCreateSimpleWindow(d, conn->rootWindow(), 0, 0, 10, 10, 0, 0, 0);
    const char wmClass[] = "my-app\0My-App";
    XChangeProperty(d, w, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(wmClass), sizeof wmClass);
    const unsigned char latin1[] = {'C', 'a', 'f', 0xE9};
    XChangeProperty(d, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace, latin1, sizeof latin1);
    std::string utf8 = "Café ✓";
    XChangeProperty(d, w, conn->atom("_NET_WM_NAME"), conn->atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
    long pids[] = {4242, 7};
    XChangeProperty(d, w, conn->atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(pids), 2);
    conn->sync();

    EXPECT_THAT(conn->stringListProperty(w, "WM_CLASS"), ::testing::ElementsAre("my-app", "My-App"));
    EXPECT_EQ(conn->textProperty(w, "WM_NAME"), "Café");
    EXPECT_EQ(conn->textProperty(w, "_NET_WM_NAME"), utf8);
    EXPECT_THAT(conn->longsProperty(w, "_NET_WM_PID"), ::testing::ElementsAre(4242, 7));
    EXPECT_EQ(conn->longProperty(w, "_NET_WM_PID"), 4242u);
    // Wrong format, missing property, gone window: all empty, no error escapes.
    auto before = detail::untrappedX11Errors();
    EXPECT_EQ(conn->longProperty(w, "WM_CLASS"), std::nullopt);
    EXPECT_EQ(conn->textProperty(w, "_NET_WM_PID"), std::nullopt);
    EXPECT_EQ(conn->textProperty(w, "PARLOWEN_UNSET_PROPERTY"), std::nullopt);
    EXPECT_TRUE(conn->stringListProperty(kNoSuchWindow, "WM_CLASS").empty());
    EXPECT_EQ(detail::untrappedX11Errors(), before);
    EXPECT_TRUE(conn->hasExtension("XTEST"));
    EXPECT_FALSE(conn->hasExtension("NO-SUCH-EXTENSION"));
}

TEST_F(X11ConnectionTest, EachThreadHasItsOwnConnection) {
    auto mine = X11Connection::forThisThread(display.displayName());
    ASSERT_TRUE(mine);
    EXPECT_EQ(*X11Connection::forThisThread(display.environment()), *mine);
    X11Connection* theirs = nullptr;
    std::thread([&] {
        auto c = X11Connection::forThisThread(display.displayName());
        if (c) {
            theirs = *c;
            (*c)->atom("PARLOWEN_OTHER_THREAD");
            (*c)->sync();
        }
    }).join();
    EXPECT_NE(theirs, nullptr);
    EXPECT_NE(theirs, *mine);
}

TEST_F(X11ConnectionTest, AServerThatGoesAwayBreaksTheConnectionNotTheProcess) {
    ScopedLogCapture log;
    auto perThread = X11Connection::forThisThread(display.displayName());
    ASSERT_TRUE(perThread);
    const std::string oldName = display.displayName();
    display.stop();
    conn->atom("PARLOWEN_AFTER_THE_SERVER_WENT");
    conn->sync();
    EXPECT_TRUE(conn->broken());
    EXPECT_EQ(conn->atom("PARLOWEN_AFTER_THE_SERVER_WENT_2"), 0u);
    EXPECT_TRUE(conn->longsProperty(conn->rootWindow(), "_NET_CLIENT_LIST").empty());
    EXPECT_TRUE(log->contains("X connection lost", LogLevel::error));

    // The thread's connection is not handed out again once its server has
    // gone, even before a request on it has failed ...
    EXPECT_FALSE((*perThread)->broken());
    X11Connection* gone = *perThread;
    auto dead = X11Connection::forThisThread(oldName);
    if (dead)  // another test's server took the display number meanwhile
        EXPECT_NE(*dead, gone);
    else
        EXPECT_EQ(dead.error().caseName, "cannotOpen");
    // ... and is replaced once the display is back.
    PARLOWEN_REQUIRE_OR_SKIP(display.start());
    auto again = X11Connection::forThisThread(display.displayName());
    ASSERT_TRUE(again) << again.error().description;
    EXPECT_FALSE((*again)->broken());
    EXPECT_NE((*again)->atom("PARLOWEN_BACK"), 0u);
}

// PRIMARY as another program holds it: its text and its process, read
// with a bound; a program that never answers costs the bound, no more.
TEST_F(X11ConnectionTest, ReadsAnotherProgramsPrimarySelectionWithABound) {
    auto env = display.environment();
    X11PrimarySelection primary(env);
    EXPECT_EQ(primary.ownerProcess(), std::nullopt);
    EXPECT_EQ(primary.text(std::chrono::milliseconds(500)), std::nullopt);

    auto put = display.run({"xclip", "-selection", "primary", "-i"}, {.input = "selected in xclip ✓"});
    ASSERT_TRUE(put.ok()) << put.describe();
    // (xclip forks after connecting: the server knows it by its parent's pid.)
    EXPECT_TRUE(testsupport::waitUntil([&] { return primary.ownerProcess().has_value(); }, std::chrono::seconds(30)));
    EXPECT_EQ(primary.text(std::chrono::seconds(10)), "selected in xclip ✓");

    // This connection takes PRIMARY and never reads its requests.
    Display* d = conn->display();
    Window w = XCreateSimpleWindow(d, conn->rootWindow(), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, conn->atom("PRIMARY"), w, CurrentTime);
    conn->sync();
    const auto start = std::chrono::steady_clock::now();
    auto hung = readSelection(display.displayName(), "PRIMARY", "UTF8_STRING", std::chrono::milliseconds(300));
    ASSERT_FALSE(hung);
    EXPECT_EQ(hung.error().caseName, "timedOut");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(primary.ownerProcess(), getpid());
}

}  // namespace
}  // namespace platform
