#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/keyevents/KeyEventSource.h"
#include "platform/log/Log.h"
#include "platform/x11/SyntheticKeys.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keys.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#undef Status  // Xlib's macro; ours is platform::Status

namespace platform {

namespace {

const Logger& keyLog() {
    static const Logger log("com.kelvatrum.Parlowen", "keyevents");
    return log;
}

constexpr std::uint16_t kCapsLockKey = 0x39;

Error openError(std::string text) { return Error::make("keyevents", 1, "cannotOpen", std::move(text)); }

class X11KeyEventSource : public KeyEventSource {
public:
    explicit X11KeyEventSource(std::string display)
        : display_(std::move(display)), gate_(SyntheticKeyGate::forDisplay(display_)) {}
    ~X11KeyEventSource() override { close(); }

    Status open(Handler handler) override;
    void close() override;
    bool isOpen() const override {
        std::lock_guard lock(mutex_);
        return running_;
    }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    void setSwallowed(std::vector<KeyChord> chords) override;
    bool canOpen() override {
        auto c = X11Connection::forThisThread(display_);
        return c && (*c)->hasExtension("RECORD");
    }

private:
    void run(std::promise<Status> started);
    static void onRecord(XPointer closure, XRecordInterceptData* data);
    void handle(int type, std::uint8_t keycode, unsigned state);
    std::uint64_t heldFlags() const;
    void deliver(const KeyEvent& event) {
        if (enabled_ && handler_) handler_(event);  // grabs do the swallowing; the verdict is advice
    }
    void applyGrabs();
    // Called by a poster of this process before it posts a chord: a grabbed
    // combination whose key is still held keeps the keyboard grabbed, and
    // the chord would come to us instead of the focused program.
    void releaseKeyboardGrab();
    // Waits for the source thread to end, then lets go of the wake-up pipe and the handler.
    void joinThread() {
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
        wake_[0] = wake_[1] = -1;
        handler_ = nullptr;
    }
    void wake() {
        char b = 1;
        [[maybe_unused]] auto n = ::write(wake_[1], &b, 1);
    }

    std::string display_;
    SyntheticKeyGate& gate_;
    Handler handler_;
    std::thread thread_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> enabled_{true};

    mutable std::mutex mutex_;
    std::condition_variable applied_;
    bool running_ = false;
    std::vector<KeyChord> wanted_;
    std::uint64_t wantedGeneration_ = 0;
    std::uint64_t appliedGeneration_ = 0;
    std::uint64_t ungrabsWanted_ = 0;
    std::uint64_t ungrabsDone_ = 0;
    bool loopEnded_ = false;

    // The source thread's own.
    std::unique_ptr<X11Connection> control_;
    std::unique_ptr<X11Connection> data_;
    std::unique_ptr<X11KeyTable> table_;
    std::vector<std::pair<std::uint8_t, unsigned>> grabbed_;
    std::bitset<256> down_;
    bool capsLockOn_ = false;
};

Status X11KeyEventSource::open(Handler handler) {
    if (isOpen()) return ok();
    // A source whose display went away has ended its thread on its own.
    if (thread_.joinable()) joinThread();
    if (::pipe(wake_) != 0) return fail(openError("cannot make a wake-up pipe"));
    handler_ = std::move(handler);
    stopping_ = false;
    enabled_ = true;
    std::promise<Status> started;
    auto result = started.get_future();
    thread_ = std::thread([this, p = std::move(started)]() mutable { run(std::move(p)); });
    Status status = result.get();
    if (!status) joinThread();
    return status;
}

void X11KeyEventSource::close() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    wake();
    joinThread();
}

void X11KeyEventSource::setSwallowed(std::vector<KeyChord> chords) {
    std::unique_lock lock(mutex_);
    wanted_ = std::move(chords);
    std::uint64_t generation = ++wantedGeneration_;
    if (!running_ || std::this_thread::get_id() == thread_.get_id()) return;
    wake();
    // Grabs are in force once this returns, so a key sent next is swallowed.
    applied_.wait_for(lock, std::chrono::seconds(2),
                      [&] { return appliedGeneration_ >= generation || !running_; });
}

void X11KeyEventSource::releaseKeyboardGrab() {
    std::unique_lock lock(mutex_);
    if (!running_ || loopEnded_ || std::this_thread::get_id() == thread_.get_id()) return;
    std::uint64_t wanted = ++ungrabsWanted_;
    wake();
    applied_.wait_for(lock, std::chrono::milliseconds(500),
                      [&] { return ungrabsDone_ >= wanted || !running_ || loopEnded_; });
}

void X11KeyEventSource::run(std::promise<Status> started) {
    auto control = X11Connection::open(display_);
    auto data = X11Connection::open(display_);
    if (!control || !data) {
        started.set_value(fail(control ? data.error() : control.error()));
        return;
    }
    control_ = std::move(*control);
    data_ = std::move(*data);
    Display* ctl = control_->display();
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(ctl, &major, &minor)) {
        started.set_value(fail(openError("the display has no RECORD extension")));
        control_.reset();
        data_.reset();
        return;
    }
    XRecordRange* range = XRecordAllocRange();
    range->device_events.first = KeyPress;
    range->device_events.last = KeyRelease;
    XRecordClientSpec clients = XRecordAllClients;
    XRecordContext context = XRecordCreateContext(ctl, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(ctl, False);
    table_ = std::make_unique<X11KeyTable>(*control_);
    // Keys already held: their state shows in the first event.
    char keys[32] = {};
    XQueryKeymap(ctl, keys);
    down_.reset();
    for (int i = 0; i < 256; ++i)
        if (keys[i / 8] & (1 << (i % 8))) down_.set(i);
    if (!context || !XRecordEnableContextAsync(data_->display(), context, &X11KeyEventSource::onRecord,
                                               reinterpret_cast<XPointer>(this))) {
        if (context) XRecordFreeContext(ctl, context);
        table_.reset();
        control_.reset();
        data_.reset();
        started.set_value(fail(openError("cannot record key events")));
        return;
    }
    applyGrabs();
    {
        // Set here, not by open(): the loop may end on a lost display at once.
        std::lock_guard lock(mutex_);
        running_ = true;
        loopEnded_ = false;
    }
    gate_.setGrabReleaser([this] { releaseKeyboardGrab(); });
    started.set_value(ok());

    bool mappingChanged = false;
    while (!stopping_) {
        XRecordProcessReplies(data_->display());
        while (XPending(ctl) > 0) {
            XEvent ev;
            XNextEvent(ctl, &ev);
            if (ev.type == MappingNotify) {
                XRefreshKeyboardMapping(&ev.xmapping);
                table_->refresh();
                // The grabs name key codes: after a new key map the
                // combinations may sit on other keys.
                mappingChanged = true;
            }
        }
        bool regrab;
        std::uint64_t ungrabs;
        {
            std::lock_guard lock(mutex_);
            regrab = appliedGeneration_ != wantedGeneration_ || mappingChanged;
            ungrabs = ungrabsWanted_ != ungrabsDone_ ? ungrabsWanted_ : 0;
        }
        if (regrab) applyGrabs();
        if (mappingChanged) keyLog().info("new keyboard map: combinations grabbed again");
        mappingChanged = false;
        if (ungrabs) {
            XUngrabKeyboard(ctl, CurrentTime);
            XSync(ctl, False);
            std::lock_guard lock(mutex_);
            ungrabsDone_ = ungrabs;
            applied_.notify_all();
        }
        if (data_->broken() || control_->broken()) break;
        pollfd fds[3] = {{ConnectionNumber(data_->display()), POLLIN, 0},
                         {ConnectionNumber(ctl), POLLIN, 0},
                         {wake_[0], POLLIN, 0}};
        if (::poll(fds, 3, 1000) < 0) continue;
        if (fds[2].revents & POLLIN) {
            char buf[64];
            [[maybe_unused]] auto n = ::read(wake_[0], buf, sizeof buf);
        }
    }

    {
        std::lock_guard lock(mutex_);
        loopEnded_ = true;
        applied_.notify_all();
    }
    gate_.setGrabReleaser({});
    Window root = control_->rootWindow();
    for (auto [code, mods] : grabbed_) XUngrabKey(ctl, code, mods, root);
    grabbed_.clear();
    XRecordDisableContext(ctl, context);
    XRecordFreeContext(ctl, context);
    XSync(ctl, False);
    XRecordProcessReplies(data_->display());
    table_.reset();
    data_.reset();
    control_.reset();
    // Closed, or the display went away: no longer open, and nobody waits
    // for grabs that will never be applied.
    std::lock_guard lock(mutex_);
    running_ = false;
    applied_.notify_all();
}

void X11KeyEventSource::applyGrabs() {
    std::vector<KeyChord> wanted;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        wanted = wanted_;
        generation = wantedGeneration_;
    }
    Display* ctl = control_->display();
    Window root = control_->rootWindow();
    {
        X11ErrorTrap trap(*control_);
        for (auto [code, mods] : grabbed_) XUngrabKey(ctl, code, mods, root);
        grabbed_.clear();
        const unsigned lock = LockMask, num = table_->numLockMask();
        for (const auto& chord : wanted) {
            auto code = table_->keycodeForMacKeyCode(chord.keyCode);
            if (!code) {
                keyLog().error("no key on this keyboard for key code {}", chord.keyCode);
                continue;
            }
            unsigned mods = table_->x11ModifierMask(chord.modifiers);
            // The combination must match whatever Caps Lock and Num Lock say.
            for (unsigned variant : {0u, lock, num, lock | num}) {
                XGrabKey(ctl, *code, mods | variant, root, False, GrabModeAsync, GrabModeAsync);
                grabbed_.emplace_back(*code, mods | variant);
            }
        }
        if (auto e = trap.check())
            keyLog().error("grabbing a combination failed: {} (another program holds it)", e->text);
    }
    std::lock_guard lock(mutex_);
    appliedGeneration_ = generation;
    applied_.notify_all();
}

void X11KeyEventSource::onRecord(XPointer closure, XRecordInterceptData* data) {
    auto* self = reinterpret_cast<X11KeyEventSource*>(closure);
    if (data->category == XRecordFromServer && data->data_len * 4 >= sizeof(xEvent)) {
        const auto* ev = reinterpret_cast<const xEvent*>(data->data);
        int type = ev->u.u.type & 0x7F;
        if (type == KeyPress || type == KeyRelease)
            self->handle(type, static_cast<std::uint8_t>(ev->u.u.detail), ev->u.keyButtonPointer.state);
    }
    XRecordFreeData(data);
}

std::uint64_t X11KeyEventSource::heldFlags() const {
    std::uint64_t flags = 0;
    for (int k = 8; k < 256; ++k) {
        if (!down_.test(k)) continue;
        if (auto mac = table_->macKeyCodeForKeycode(static_cast<std::uint8_t>(k))) flags |= modifierKeyFlags(*mac);
    }
    if (capsLockOn_) flags |= KeyEventFlag::capsLock;
    return flags;
}

void X11KeyEventSource::handle(int type, std::uint8_t keycode, unsigned state) {
    bool wasDown = down_.test(keycode);
    down_.set(keycode, type == KeyPress);
    // Recorded state is the modifiers before the event.
    capsLockOn_ = (state & LockMask) != 0;
    // Our own synthetic chord: the keyboard state follows it, the gestures do not.
    if (gate_.takeAnnounced({keycode, type == KeyPress})) return;
    auto mac = table_->macKeyCodeForKeycode(keycode);
    if (!mac) return;
    if (*mac == kCapsLockKey || modifierKeyFlags(*mac) != 0) {
        // A held modifier's repeats change no flags.
        if (type == KeyPress && wasDown) return;
        if (*mac == kCapsLockKey && type == KeyPress) capsLockOn_ = !capsLockOn_;
        deliver({KeyEventType::flagsChanged, *mac, heldFlags(), false});
        return;
    }
    if (type == KeyPress) deliver({KeyEventType::keyDown, *mac, heldFlags(), wasDown});
}

}  // namespace

std::unique_ptr<KeyEventSource> makeX11KeyEventSource(std::string displayName) {
    return std::make_unique<X11KeyEventSource>(std::move(displayName));
}

std::unique_ptr<KeyEventSource> makeX11KeyEventSource(const Environment& env) {
    return makeX11KeyEventSource(env.get("DISPLAY").value_or(""));
}

}  // namespace platform
