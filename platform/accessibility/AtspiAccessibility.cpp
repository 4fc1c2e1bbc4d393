#include "platform/accessibility/AtspiAccessibility.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <atspi/atspi.h>
#include <gio/gio.h>

#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace platform {

namespace {

const Logger& axLog() {
    static const Logger log("com.kelvatrum.Parlowen", "accessibility");
    return log;
}

// Owns one GObject reference.
template <class T>
struct GRef {
    T* p = nullptr;
    GRef() = default;
    explicit GRef(T* adopt) : p(adopt) {}
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    GRef(GRef&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    GRef& operator=(GRef&& o) noexcept {
        if (this != &o) {
            reset();
            p = std::exchange(o.p, nullptr);
        }
        return *this;
    }
    ~GRef() { reset(); }
    void reset() {
        if (p) g_object_unref(p);
        p = nullptr;
    }
    T* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct GErrorHolder {
    GError* e = nullptr;
    ~GErrorHolder() { g_clear_error(&e); }
    GError** out() {
        g_clear_error(&e);
        return &e;
    }
    std::string message() const { return e && e->message ? e->message : "unknown error"; }
};

// A failed call: the application is gone or did not answer in time, or
// the element does not do what was asked.
Error callError(const GErrorHolder& error, const char* what) {
    std::string message = error.message();
    AccessibilityErrorCode code = AccessibilityErrorCode::cannotComplete;
    if (message.find("UnknownMethod") != std::string::npos || message.find("not implemented") != std::string::npos)
        code = AccessibilityErrorCode::notImplemented;
    else if (message.find("UnknownObject") != std::string::npos)
        code = AccessibilityErrorCode::invalidElement;
    return accessibilityError(code, std::string(what) + ": " + message);
}

bool hasState(AtspiAccessible* a, AtspiStateType state) {
    AtspiStateSet* set = atspi_accessible_get_state_set(a);
    if (!set) return false;
    bool has = atspi_state_set_contains(set, state);
    g_object_unref(set);
    return has;
}

// The session bus that `env` names (never the process's own guess).
GRef<GDBusConnection> sessionBus(const Environment& env, std::string& why) {
    std::string address = env.value("DBUS_SESSION_BUS_ADDRESS");
    if (address.empty()) {
        why = "no session bus";
        return {};
    }
    GErrorHolder error;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, error.out());
    if (!c) why = error.message();
    return GRef<GDBusConnection>(c);
}

constexpr int kBusCallTimeoutMs = 2000;

// ------------------------------------------------------- the AT-SPI thread

class Node;
// One accessible object; the last owner may be on any thread, the object is
// released on the AT-SPI thread.
using NodePtr = std::shared_ptr<Node>;
NodePtr adoptNode(AtspiAccessible* adopt);

// libatspi keeps process-wide state that is not thread-safe, so every call
// into it runs on this one thread. The thread also dispatches libatspi's
// D-Bus traffic in a GLib main context of its own (never the default
// context, which Qt's event loop runs on the main thread) and follows the
// focus events of every application. Started on first use, it lives as long
// as the process: elements handed out may be released at any time.
class AtspiThread {
public:
    static AtspiThread& instance() {
        static AtspiThread* thread = new AtspiThread;
        return *thread;
    }

    bool isCurrent() const { return std::this_thread::get_id() == id_; }

    void post(Job job) {
        g_main_context_invoke_full(
            context_, G_PRIORITY_DEFAULT,
            [](gpointer p) -> gboolean {
                (*static_cast<Job*>(p))();
                return G_SOURCE_REMOVE;
            },
            new Job(std::move(job)), [](gpointer p) { delete static_cast<Job*>(p); });
    }

    // Runs `job` here and waits for its result at most `bound`; none when it
    // did not finish in time (it still runs, and its result is dropped here).
    // The result must be safe to destroy on any thread.
    template <class R>
    std::optional<R> call(std::move_only_function<R()> job, Duration bound) {
        if (isCurrent()) return job();
        struct Reply {
            std::mutex mutex;
            std::condition_variable done;
            std::optional<R> value;
            bool abandoned = false;
        };
        auto reply = std::make_shared<Reply>();
        post([reply, job = std::move(job)]() mutable {
            std::optional<R> value(job());
            std::lock_guard lock(reply->mutex);
            if (reply->abandoned) return;
            reply->value = std::move(value);
            reply->done.notify_all();
        });
        std::unique_lock lock(reply->mutex);
        if (!reply->done.wait_for(lock, bound, [&] { return reply->value.has_value(); })) {
            reply->abandoned = true;
            return std::nullopt;
        }
        return std::move(reply->value);
    }

    // Connects to the accessibility bus and starts following the focus, once
    // per process. On this thread.
    Status connect() {
        if (connected_) return ok();
        int status = atspi_init();
        if (status != 0 && status != 1)
            return fail(accessibilityError(AccessibilityErrorCode::apiDisabled, "AT-SPI did not start"));
        atspi_set_main_context(context_);
        connected_ = true;
        applyTimeout();
        GRef<AtspiEventListener> listener(atspi_event_listener_new(&AtspiThread::onEvent, this, nullptr));
        for (const char* type : {"object:state-changed:focused", "window:deactivate"}) {
            GErrorHolder error;
            if (!atspi_event_listener_register(listener.get(), type, error.out()))
                axLog().error("focus: cannot follow {} events: {}", type, error.message());
        }
        listener_ = std::move(listener);
        return ok();
    }

    // The messaging timeout for every later call. On this thread.
    void setTimeout(Duration timeout) {
        timeout_ = timeout;
        applyTimeout();
    }

    // The element that the last focus event named, unless it has lost the
    // focus since, with its process.
    struct Focus {
        NodePtr node;
        pid_t pid = 0;
    };
    std::optional<Focus> trackedFocus() {
        std::lock_guard lock(mutex_);
        return focus_;
    }
    // Counts the focus events seen, so that a search can tell whether one
    // came while it ran.
    std::uint64_t focusEvents() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // What a search found stands in for a focus event that was never seen
    // (the focus moved before we listened), unless one came meanwhile.
    void learnFocus(Focus focus, std::uint64_t eventsBefore) {
        std::optional<Focus> dropped;
        std::lock_guard lock(mutex_);
        if (events_ == eventsBefore) dropped = std::exchange(focus_, std::move(focus));
    }

private:
    AtspiThread() : context_(g_main_context_new()) {
        std::thread thread([context = context_] {
            g_main_context_push_thread_default(context);
            for (;;) g_main_context_iteration(context, TRUE);
        });
        id_ = thread.get_id();
        thread.detach();
    }

    void applyTimeout() {
        if (connected_)
            atspi_set_timeout(
                static_cast<gint>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout_).count()), -1);
    }

    static void onEvent(AtspiEvent* event, void* self) {
        static_cast<AtspiThread*>(self)->follow(event);
        g_boxed_free(atspi_event_get_type(), event);
    }
    void follow(const AtspiEvent* event);

    GMainContext* context_;
    std::thread::id id_;
    // This thread's own.
    bool connected_ = false;
    Duration timeout_ = std::chrono::milliseconds(500);
    GRef<AtspiEventListener> listener_;

    std::mutex mutex_;
    std::optional<Focus> focus_;
    std::uint64_t events_ = 0;
};

// ------------------------------------------------------------- the element

// An element's calls into libatspi, made on the AT-SPI thread.
class Node {
public:
    explicit Node(AtspiAccessible* adopt) : a_(adopt) {}
    AtspiAccessible* get() const { return a_.get(); }

    Result<pid_t> processIdentifier() {
        GErrorHolder error;
        guint pid = atspi_accessible_get_process_id(a_.get(), error.out());
        if (error.e) return fail(callError(error, "process id"));
        return static_cast<pid_t>(pid);
    }

    Result<std::string> roleName() {
        GErrorHolder error;
        AtspiRole role = atspi_accessible_get_role(a_.get(), error.out());
        if (error.e) return fail(callError(error, "role"));
        gchar* name = atspi_role_get_name(role);
        std::string out = name ? name : "";
        g_free(name);
        return out;
    }

    Result<bool> isSelectedTextSettable() {
        GRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(a_.get()));
        if (!editable) return false;
        return hasState(a_.get(), ATSPI_STATE_EDITABLE);
    }

    Status setSelectedText(const std::string& text) {
        GRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(a_.get()));
        GRef<AtspiText> textIface(atspi_accessible_get_text_iface(a_.get()));
        if (!editable || !textIface)
            return fail(accessibilityError(AccessibilityErrorCode::attributeUnsupported, "not editable text"));
        auto range = rawSelection(textIface.get());
        if (!range) return fail(range.error());
        GErrorHolder error;
        int position = range->start;
        if (range->end != range->start) {
            if (!atspi_editable_text_delete_text(editable.get(), range->start, range->end, error.out()))
                return fail(error.e ? callError(error, "delete selection")
                                    : accessibilityError(AccessibilityErrorCode::failure, "selection not deleted"));
        }
        const gint countBefore = atspi_text_get_character_count(textIface.get(), error.out());
        if (error.e) return fail(callError(error, "character count"));
        // The length is in the application's own units: Qt reads UTF-16
        // units (and pads a longer count with NULs), GTK reads bytes.
        const text::TextOffsets units(text);
        const gint length = static_cast<gint>(utf16Offsets() ? units.utf16Count() : units.byteCount());
        if (!atspi_editable_text_insert_text(editable.get(), position, text.c_str(), length, error.out()))
            return fail(error.e ? callError(error, "insert text")
                                : accessibilityError(AccessibilityErrorCode::failure, "text not inserted"));
        // A toolkit that counts otherwise would have stored the text cut
        // short or padded: read it back, and undo a bad insertion so that
        // the caller can take another route.
        const gint inserted = static_cast<gint>(utf16Offsets() ? units.utf16Count() : units.codePointCount());
        gchar* stored = atspi_text_get_text(textIface.get(), position, position + inserted, error.out());
        bool intact = !error.e && stored && text == stored;
        g_free(stored);
        if (intact) {
            const gint countAfter = atspi_text_get_character_count(textIface.get(), error.out());
            intact = !error.e && countAfter == countBefore + inserted;
        }
        if (!intact) {
            GErrorHolder ignored;
            atspi_editable_text_delete_text(editable.get(), position, position + inserted, ignored.out());
            return fail(accessibilityError(AccessibilityErrorCode::failure, "text not inserted intact"));
        }
        return ok();
    }

    Result<AccessibleTextRange> selectionRange() {
        GRef<AtspiText> text(atspi_accessible_get_text_iface(a_.get()));
        if (!text) return fail(accessibilityError(AccessibilityErrorCode::attributeUnsupported, "no text"));
        auto raw = rawSelection(text.get());
        if (!raw || !utf16Offsets()) return raw;
        auto whole = wholeText(text.get());
        if (!whole) return fail(whole.error());
        const text::TextOffsets offsets(*whole);
        auto codePoint = [&](int utf16) {
            return static_cast<int>(offsets.codePointFromByte(offsets.byteFromUtf16(static_cast<std::size_t>(utf16))));
        };
        return AccessibleTextRange{codePoint(raw->start), codePoint(raw->end)};
    }

    Result<std::string> selectedText() {
        auto range = selectionRange();
        if (!range) return fail(range.error());
        if (range->end == range->start) return std::string();
        return textBetween(range->start, range->end);
    }

    Result<std::string> value() {
        GRef<AtspiText> text(atspi_accessible_get_text_iface(a_.get()));
        if (!text) return fail(accessibilityError(AccessibilityErrorCode::noValue, "no text"));
        return wholeText(text.get());
    }

    Result<AccessibleWindow> window() {
        GErrorHolder error;
        GRef<AtspiAccessible> node(static_cast<AtspiAccessible*>(g_object_ref(a_.get())));
        // The top-level window is the ancestor whose parent is the application.
        for (int depth = 0; depth < kMaxWindowDepth; ++depth) {
            GRef<AtspiAccessible> parent(atspi_accessible_get_parent(node.get(), error.out()));
            if (error.e) return fail(callError(error, "parent"));
            if (!parent) break;
            AtspiRole parentRole = atspi_accessible_get_role(parent.get(), error.out());
            if (error.e) return fail(callError(error, "role"));
            if (parentRole == ATSPI_ROLE_APPLICATION) {
                AtspiRole role = atspi_accessible_get_role(node.get(), error.out());
                if (error.e) return fail(callError(error, "window role"));
                // GTK publishes the modal state of its dialogs; Qt does not,
                // but its dialogs have the dialog role. Toolkits give plain
                // windows all sorts of roles (Qt: "filler").
                AccessibleWindow out;
                out.modal = hasState(node.get(), ATSPI_STATE_MODAL);
                const bool dialog = role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_ALERT ||
                                    role == ATSPI_ROLE_FILE_CHOOSER || role == ATSPI_ROLE_COLOR_CHOOSER;
                out.subrole = dialog ? kDialogSubrole : kStandardWindowSubrole;
                return out;
            }
            node = std::move(parent);
        }
        return fail(accessibilityError(AccessibilityErrorCode::noValue, "no window"));
    }

private:
    static constexpr int kMaxWindowDepth = 64;

    // Offsets in code points, as the interface promises.
    Result<std::string> textBetween(int start, int end) {
        GRef<AtspiText> text(atspi_accessible_get_text_iface(a_.get()));
        if (!text) return fail(accessibilityError(AccessibilityErrorCode::noValue, "no text"));
        if (utf16Offsets()) {
            auto whole = wholeText(text.get());
            if (!whole) return fail(whole.error());
            const text::TextOffsets offsets(*whole);
            const std::size_t from = offsets.byteFromCodePoint(static_cast<std::size_t>(start));
            const std::size_t to = offsets.byteFromCodePoint(static_cast<std::size_t>(end));
            return whole->substr(from, to - from);
        }
        return rawText(text.get(), start, end);
    }

    static Result<std::string> rawText(AtspiText* text, int start, int end) {
        GErrorHolder error;
        gchar* s = atspi_text_get_text(text, start, end, error.out());
        if (error.e) return fail(callError(error, "text"));
        std::string out = s ? s : "";
        g_free(s);
        return out;
    }

    static Result<std::string> wholeText(AtspiText* text) {
        GErrorHolder error;
        gint count = atspi_text_get_character_count(text, error.out());
        if (error.e) return fail(callError(error, "character count"));
        return rawText(text, 0, count);
    }

    // The first selection, else an empty range at the caret, in the
    // application's own offsets.
    static Result<AccessibleTextRange> rawSelection(AtspiText* text) {
        GErrorHolder error;
        gint count = atspi_text_get_n_selections(text, error.out());
        if (error.e) return fail(callError(error, "selections"));
        if (count > 0) {
            AtspiRange* r = atspi_text_get_selection(text, 0, error.out());
            if (error.e || !r) return fail(callError(error, "selection"));
            AccessibleTextRange out{std::min(r->start_offset, r->end_offset), std::max(r->start_offset, r->end_offset)};
            g_free(r);
            if (out.end > out.start) return out;
        }
        gint caret = atspi_text_get_caret_offset(text, error.out());
        if (error.e) return fail(callError(error, "caret"));
        if (caret < 0) {
            caret = atspi_text_get_character_count(text, error.out());
            if (error.e) return fail(callError(error, "character count"));
        }
        return AccessibleTextRange{caret, caret};
    }

    // Qt counts every text offset and length in UTF-16 units; other
    // toolkits count offsets in code points.
    bool utf16Offsets() {
        if (!utf16Offsets_) {
            // Only the application object answers for its toolkit.
            GErrorHolder error;
            GRef<AtspiAccessible> app(atspi_accessible_get_application(a_.get(), error.out()));
            gchar* toolkit = app ? atspi_accessible_get_toolkit_name(app.get(), error.out()) : nullptr;
            utf16Offsets_ = toolkit && std::string_view(toolkit).starts_with("Qt");
            g_free(toolkit);
        }
        return *utf16Offsets_;
    }

    std::optional<bool> utf16Offsets_;
    GRef<AtspiAccessible> a_;
};

NodePtr adoptNode(AtspiAccessible* adopt) {
    return NodePtr(new Node(adopt), [](Node* node) {
        auto& thread = AtspiThread::instance();
        if (thread.isCurrent())
            delete node;
        else
            thread.post([node] { delete node; });
    });
}

void AtspiThread::follow(const AtspiEvent* event) {
    if (!event->source || !event->type) return;
    GErrorHolder error;
    const auto pid = static_cast<pid_t>(atspi_accessible_get_process_id(event->source, error.out()));
    // Our own windows are never where text goes (nor asked: see focusedElement).
    if (error.e || pid == ::getpid()) return;
    const bool focusEvent = std::string_view(event->type).starts_with("object:state-changed:focused");
    std::optional<Focus> dropped;
    std::lock_guard lock(mutex_);
    ++events_;
    if (focusEvent && event->detail1) {
        NodePtr node = adoptNode(static_cast<AtspiAccessible*>(g_object_ref(event->source)));
        dropped = std::exchange(focus_, Focus{std::move(node), pid});
    } else if (focus_ && (focusEvent ? focus_->node->get() == event->source : focus_->pid == pid)) {
        // The element lost the focus, or its application's window went to the back.
        dropped = std::exchange(focus_, std::nullopt);
    }
}

// The element interface for callers on any thread: each call runs on the
// AT-SPI thread, and waits for it at most `bound`.
class AtspiElement : public AccessibleElement {
public:
    AtspiElement(NodePtr node, Duration bound) : node_(std::move(node)), bound_(bound) {}

    Result<pid_t> processIdentifier() override { return run<pid_t>(&Node::processIdentifier); }
    Result<std::string> roleName() override { return run<std::string>(&Node::roleName); }
    Result<bool> isSelectedTextSettable() override { return run<bool>(&Node::isSelectedTextSettable); }
    Result<std::string> selectedText() override { return run<std::string>(&Node::selectedText); }
    Result<AccessibleTextRange> selectionRange() override { return run<AccessibleTextRange>(&Node::selectionRange); }
    Result<std::string> value() override { return run<std::string>(&Node::value); }
    Result<AccessibleWindow> window() override { return run<AccessibleWindow>(&Node::window); }
    Status setSelectedText(const std::string& text) override {
        return onThread<void>([node = node_, text] { return node->setSelectedText(text); });
    }

private:
    template <class T>
    Result<T> run(Result<T> (Node::*operation)()) {
        return onThread<T>([node = node_, operation] { return ((*node).*operation)(); });
    }
    template <class T>
    Result<T> onThread(std::move_only_function<Result<T>()> job) {
        auto r = AtspiThread::instance().call<Result<T>>(std::move(job), bound_);
        if (!r) return fail(accessibilityError(AccessibilityErrorCode::cannotComplete, "no answer in time"));
        return std::move(*r);
    }

    NodePtr node_;
    Duration bound_;
};

// ------------------------------------------------------- the focus search

// The focused element below `root` through the Collection interface: a
// single call. None when the application has no such interface or it fails.
std::optional<GRef<AtspiAccessible>> focusedByCollection(AtspiAccessible* root) {
    GRef<AtspiCollection> collection(atspi_accessible_get_collection_iface(root));
    if (!collection) return std::nullopt;
    AtspiStateSet* states = atspi_state_set_new(nullptr);
    atspi_state_set_add(states, ATSPI_STATE_FOCUSED);
    AtspiMatchRule* rule = atspi_match_rule_new(states, ATSPI_Collection_MATCH_ALL, nullptr,
                                                ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE,
                                                nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    g_object_unref(states);
    GErrorHolder error;
    GArray* matches = atspi_collection_get_matches(collection.get(), rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1,
                                                   TRUE, error.out());
    g_object_unref(rule);
    if (error.e || !matches) {
        if (matches) g_array_free(matches, TRUE);
        return std::nullopt;
    }
    GRef<AtspiAccessible> found;
    for (guint i = 0; i < matches->len; ++i) {
        AtspiAccessible* m = g_array_index(matches, AtspiAccessible*, i);
        if (!found && m) found = GRef<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(m)));
        if (m) g_object_unref(m);
    }
    g_array_free(matches, TRUE);
    return found;
}

// Depth-first through showing elements, skipping the insides of elements
// that manage their own descendants (tables, long lists).
GRef<AtspiAccessible> focusedByWalking(AtspiAccessible* node, int& budget) {
    if (budget-- <= 0) return {};
    AtspiStateSet* set = atspi_accessible_get_state_set(node);
    bool focused = set && atspi_state_set_contains(set, ATSPI_STATE_FOCUSED);
    bool showing = set && atspi_state_set_contains(set, ATSPI_STATE_SHOWING);
    bool manages = set && atspi_state_set_contains(set, ATSPI_STATE_MANAGES_DESCENDANTS);
    if (set) g_object_unref(set);
    if (focused) return GRef<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(node)));
    if (!showing || manages) return {};
    GErrorHolder error;
    gint count = atspi_accessible_get_child_count(node, error.out());
    for (gint i = 0; i < count && budget > 0; ++i) {
        GRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(node, i, error.out()));
        if (!child) continue;
        if (auto found = focusedByWalking(child.get(), budget)) return found;
    }
    return {};
}

}  // namespace

// ------------------------------------------------------------ the service

AtspiAccessibility::AtspiAccessibility(Environment env, FrontmostProcess frontmostProcess)
    : env_(std::move(env)), frontmostProcess_(std::move(frontmostProcess)), timeout_(std::chrono::milliseconds(500)) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isTrusted() {
    std::string why;
    auto bus = sessionBus(env_, why);
    if (!bus) return false;
    GErrorHolder error;
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        kBusCallTimeoutMs, nullptr, error.out());
    if (!reply) return false;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    bool enabled = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    if (value) g_variant_unref(value);
    g_variant_unref(reply);
    return enabled;
}

Status AtspiAccessibility::requestTrust() {
    std::string why;
    auto bus = sessionBus(env_, why);
    if (!bus) return fail(accessibilityError(AccessibilityErrorCode::apiDisabled, why));
    GErrorHolder error;
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, error.out());
    if (!reply) return fail(accessibilityError(AccessibilityErrorCode::apiDisabled, error.message()));
    g_variant_unref(reply);
    return ok();
}

void AtspiAccessibility::setMessagingTimeout(Duration timeout) {
    timeout_ = timeout;
    AtspiThread::instance().post([timeout] { AtspiThread::instance().setTimeout(timeout); });
}

Duration AtspiAccessibility::callBound() const { return kCallBoundInTimeouts * timeout_; }

Status AtspiAccessibility::ensureConnected() {
    if (connected_) return ok();
    // libatspi cannot cope with a missing accessibility bus: make sure it answers first.
    std::string why;
    auto bus = sessionBus(env_, why);
    if (!bus) return fail(accessibilityError(AccessibilityErrorCode::apiDisabled, why));
    GErrorHolder error;
    GVariant* reply = g_dbus_connection_call_sync(bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                                  "GetAddress", nullptr, G_VARIANT_TYPE("(s)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, error.out());
    if (!reply)
        return fail(accessibilityError(AccessibilityErrorCode::apiDisabled,
                                       "no accessibility bus: " + error.message()));
    g_variant_unref(reply);
    auto& thread = AtspiThread::instance();
    const Duration timeout = timeout_;
    auto connected = thread.call<Status>(
        [timeout] {
            auto& t = AtspiThread::instance();
            t.setTimeout(timeout);
            return t.connect();
        },
        std::max<Duration>(callBound(), std::chrono::milliseconds(kBusCallTimeoutMs)));
    if (!connected)
        return fail(accessibilityError(AccessibilityErrorCode::cannotComplete, "AT-SPI did not start in time"));
    if (!*connected) return fail(connected->error());
    connected_ = true;
    return ok();
}

namespace {
// The focused element in one application's active windows; none when it
// has none or does not answer.
GRef<AtspiAccessible> focusedIn(AtspiAccessible* app, gint index) {
    GErrorHolder error;
    // States and children change all the time; ask the application, not the cache.
    atspi_accessible_set_cache_mask(app, ATSPI_CACHE_NONE);
    gint windows = atspi_accessible_get_child_count(app, error.out());
    if (error.e) {
        axLog().debug("focus: application {} did not answer: {}", index, error.message());
        return {};
    }
    for (gint w = 0; w < windows; ++w) {
        GRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app, w, error.out()));
        if (!window || !hasState(window.get(), ATSPI_STATE_ACTIVE)) continue;
        auto found = focusedByCollection(window.get());
        if (!found) {
            int budget = AtspiAccessibility::kSearchBudget;
            found = focusedByWalking(window.get(), budget);
        }
        if (*found) return std::move(*found);
    }
    return {};
}

// Searches every application on the accessibility bus but our own, the
// frontmost first; the node found comes with its application's process (0
// when the bus did not tell it). On the AT-SPI thread.
Result<AtspiThread::Focus> searchFocus(std::optional<pid_t> front) {
    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return fail(accessibilityError(AccessibilityErrorCode::failure, "no desktop"));
    GErrorHolder error;
    gint count = atspi_accessible_get_child_count(desktop.get(), error.out());
    if (error.e) return fail(callError(error, "applications"));
    // The bus daemon, not the application, tells an application's process,
    // so sorting costs no call into any application.
    const pid_t self = ::getpid();
    struct App {
        GRef<AtspiAccessible> app;
        gint index;
        pid_t pid;
    };
    std::vector<App> apps;
    for (gint i = 0; i < count; ++i) {
        GRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
        if (!app) continue;
        GErrorHolder pidError;
        const pid_t pid = static_cast<pid_t>(atspi_accessible_get_process_id(app.get(), pidError.out()));
        // Our own bridge answers on the main thread, which may be the one
        // waiting for this search: asking it could only time out.
        if (!pidError.e && pid == self) continue;
        const bool frontmost = !pidError.e && front && pid == *front;
        apps.insert(frontmost ? apps.begin() : apps.end(), App{std::move(app), i, pidError.e ? 0 : pid});
    }
    for (auto& [app, index, pid] : apps)
        if (auto found = focusedIn(app.get(), index))
            return AtspiThread::Focus{adoptNode(std::exchange(found.p, nullptr)), pid};
    return AtspiThread::Focus{};
}

Result<NodePtr> searchAndLearnFocus(std::optional<pid_t> front) {
    auto& thread = AtspiThread::instance();
    const std::uint64_t events = thread.focusEvents();
    auto found = searchFocus(front);
    if (!found) return fail(found.error());
    if (found->node && found->pid != 0) thread.learnFocus(*found, events);
    return std::move(found->node);
}

// Whether the element that the focus events named still has the focus as
// far as this process can tell without asking any application: its process
// runs, and it is the frontmost one where that is known.
bool stillFocused(const AtspiThread::Focus& focus, std::optional<pid_t> front) {
    if (::kill(focus.pid, 0) != 0 && errno == ESRCH) return false;
    return !front || *front == focus.pid;
}
}  // namespace

Result<std::shared_ptr<AccessibleElement>> AtspiAccessibility::focusedElement() {
    if (auto s = ensureConnected(); !s) return fail(s.error());
    auto& thread = AtspiThread::instance();
    const std::optional<pid_t> front = frontmostProcess_ ? frontmostProcess_() : std::nullopt;
    // The focus events answer at once, without a call into any application.
    if (auto tracked = thread.trackedFocus(); tracked && stillFocused(*tracked, front))
        return std::shared_ptr<AccessibleElement>(std::make_shared<AtspiElement>(tracked->node, callBound()));
    axLog().debug("focus: no focus event to answer from; searching the applications");
    auto found = thread.call<Result<NodePtr>>([front] { return searchAndLearnFocus(front); }, callBound());
    if (!found) return fail(accessibilityError(AccessibilityErrorCode::cannotComplete, "the focus search took too long"));
    if (!*found) return fail(found->error());
    if (!**found) return std::shared_ptr<AccessibleElement>();
    return std::shared_ptr<AccessibleElement>(std::make_shared<AtspiElement>(std::move(**found), callBound()));
}

}  // namespace platform
