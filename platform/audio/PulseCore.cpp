#include "platform/audio/PulseCore.h"

#include <pulse/timeval.h>

#include <algorithm>

#include "platform/audio/AudioError.h"

namespace platform::pulse {

namespace {

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

std::string property(const pa_proplist* p, const char* key) { return p ? text(pa_proplist_gets(p, key)) : std::string(); }

bool alive(pa_context* c) {
    if (!c) return false;
    auto s = pa_context_get_state(c);
    return s != PA_CONTEXT_FAILED && s != PA_CONTEXT_TERMINATED;
}

}  // namespace

// ------------------------------------------------------------------ Snapshot

const CardInfo* Snapshot::card(std::uint32_t index) const {
    for (const auto& c : cards)
        if (c.index == index) return &c;
    return nullptr;
}
const EndpointInfo* Snapshot::sink(const std::string& name) const {
    for (const auto& s : sinks)
        if (s.name == name) return &s;
    return nullptr;
}
const EndpointInfo* Snapshot::source(const std::string& name) const {
    for (const auto& s : sources)
        if (s.name == name) return &s;
    return nullptr;
}

std::vector<ResolvedDevice> resolveDevices(const Snapshot& snap) {
    std::vector<ResolvedDevice> out;
    auto firstOf = [](const std::vector<EndpointInfo>& list, std::uint32_t card, const std::string& preferred,
                      bool inputs) -> const EndpointInfo* {
        const EndpointInfo* first = nullptr;
        for (const auto& e : list) {
            if (e.card != card || (inputs && e.monitor)) continue;
            if (e.name == preferred) return &e;
            if (!first) first = &e;
        }
        return first;
    };
    auto optionalText = [](const std::string& s) { return s.empty() ? std::nullopt : std::optional<std::string>(s); };

    for (const auto& card : snap.cards) {
        const EndpointInfo* sink = firstOf(snap.sinks, card.index, snap.defaultSink, false);
        const EndpointInfo* source = firstOf(snap.sources, card.index, snap.defaultSource, true);
        if (!sink && !source) continue;
        ResolvedDevice d;
        d.record.id = card.index;
        d.record.uid = optionalText(card.name);
        std::string name = card.description;
        if (name.empty()) name = sink ? sink->description : source->description;
        d.record.name = optionalText(name);
        std::string bus = card.bus, formFactor = card.formFactor;
        const EndpointInfo* any = sink ? sink : source;
        if (bus.empty()) bus = any->bus;
        if (formFactor.empty()) formFactor = any->formFactor;
        d.record.transport = transportFromProperties(bus, formFactor);
        if (sink) {
            d.record.outputChannels = sink->channels;
            d.sinkName = sink->name;
        }
        if (source) {
            d.record.inputChannels = source->channels;
            d.sourceName = source->name;
        }
        out.push_back(std::move(d));
    }
    auto cardless = [&](const EndpointInfo& e) { return e.card == PA_INVALID_INDEX || !snap.card(e.card); };
    auto deviceOf = [&](const EndpointInfo& e, AudioDeviceID tag) -> ResolvedDevice& {
        ResolvedDevice& d = out.emplace_back();
        d.record.id = tag | e.index;
        d.record.uid = optionalText(e.name);
        d.record.name = optionalText(e.description);
        d.record.transport = transportFromProperties(e.bus, e.formFactor);
        return d;
    };
    for (const auto& s : snap.sinks) {
        if (!cardless(s)) continue;
        ResolvedDevice& d = deviceOf(s, kCardlessSinkTag);
        d.record.outputChannels = s.channels;
        d.sinkName = s.name;
    }
    for (const auto& s : snap.sources) {
        if (s.monitor || !cardless(s)) continue;
        ResolvedDevice& d = deviceOf(s, kCardlessSourceTag);
        d.record.inputChannels = s.channels;
        d.sourceName = s.name;
    }
    return out;
}

std::optional<std::string> sinkUID(const Snapshot& snap, const std::string& name) {
    const EndpointInfo* e = snap.sink(name);
    if (!e) return std::nullopt;
    if (const CardInfo* c = snap.card(e->card); c && !c->name.empty()) return c->name;
    return e->name;
}

std::optional<std::string> sourceUID(const Snapshot& snap, const std::string& name) {
    const EndpointInfo* e = snap.source(name);
    if (!e) return std::nullopt;
    // A monitor is not its card's input: it keeps its own name.
    if (!e->monitor)
        if (const CardInfo* c = snap.card(e->card); c && !c->name.empty()) return c->name;
    return e->name;
}

bool waitUntilReady(Core& core, pa_stream* stream) {
    core.wait([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }, kQueryTimeout);
    return pa_stream_get_state(stream) == PA_STREAM_READY;
}

void retireStream(Core& core, pa_stream* stream) {
    pa_stream_disconnect(stream);
    pa_mainloop_api_once(
        pa_threaded_mainloop_get_api(core.loop()), [](pa_mainloop_api*, void* s) { pa_stream_unref(static_cast<pa_stream*>(s)); },
        stream);
}

// ---------------------------------------------------------------------- Lock

Lock::Lock(const Core& core) : loop_(core.loop()), owns_(!pa_threaded_mainloop_in_thread(core.loop())) {
    if (owns_) pa_threaded_mainloop_lock(loop_);
}

Lock::~Lock() {
    if (owns_) pa_threaded_mainloop_unlock(loop_);
}

// ---------------------------------------------------------------------- Core

Core::Core(std::optional<std::string> server, std::string applicationName, Duration connectTimeout)
    : server_(std::move(server)), applicationName_(std::move(applicationName)), connectTimeout_(connectTimeout) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_) {
        pa_threaded_mainloop_set_name(loop_, "pulse-audio");
        if (pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }
}

Core::~Core() {
    if (!loop_) return;
    {
        Lock lock(*this);
        dropContext();
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void Core::dropContext() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
    everReady_ = false;
}

bool Core::contextGood() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

Error Core::lastError(std::string what) const {
    std::string detail = std::move(what);
    if (context_) detail += std::string(": ") + pa_strerror(pa_context_errno(context_));
    return toError(AudioError::server, std::move(detail));
}

bool Core::wait(const std::function<bool()>& done, Duration timeout) {
    if (done()) return true;
    struct Timer {
        Core* core;
        bool fired = false;
    } timer{this};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval tv;
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, static_cast<pa_usec_t>(std::chrono::duration_cast<std::chrono::microseconds>(timeout).count()));
    pa_time_event* e = api->time_new(
        api, &tv,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* u) {
            auto* t = static_cast<Timer*>(u);
            t->fired = true;
            t->core->signal();
        },
        &timer);
    while (!done() && !timer.fired && (!context_ || alive(context_))) pa_threaded_mainloop_wait(loop_);
    api->time_free(e);
    return done();
}

void Core::contextState(pa_context* c, void* self) {
    auto* core = static_cast<Core*>(self);
    auto state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY) core->everReady_ = true;
    // A lost server is a change: what the catalogue listed is gone.
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && core->everReady_) {
        core->everReady_ = false;
        core->log_.error("sound server connection lost: {}", pa_strerror(pa_context_errno(c)));
        core->changes_.send(0);
    }
    core->signal();
}

void Core::subscription(pa_context*, pa_subscription_event_type_t t, std::uint32_t, void* self) {
    auto* core = static_cast<Core*>(self);
    const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto type = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    bool relevant = false;
    switch (facility) {
        case PA_SUBSCRIPTION_EVENT_SINK:
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            // Volume and state changes come as "change"; only arrivals and removals matter.
            relevant = type != PA_SUBSCRIPTION_EVENT_CHANGE;
            break;
        case PA_SUBSCRIPTION_EVENT_CARD:   // profile switches add and remove endpoints
        case PA_SUBSCRIPTION_EVENT_SERVER:  // default sink or source
            relevant = true;
            break;
        default: break;
    }
    if (relevant) core->changes_.send(0);
}

Result<pa_context*> Core::context() {
    if (!loop_) return fail(toError(AudioError::server, "no PulseAudio main loop"));
    if (contextGood()) return context_;
    dropContext();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, applicationName_.c_str());
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "com.kelvatrum.Parlowen");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), applicationName_.c_str(), props);
    pa_proplist_free(props);
    if (!context_) return fail(toError(AudioError::server, "cannot create a PulseAudio context"));
    pa_context_set_state_callback(context_, &Core::contextState, this);
    if (pa_context_connect(context_, server_ ? server_->c_str() : nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        Error e = lastError("cannot connect to the sound server");
        dropContext();
        return fail(e);
    }
    wait([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY || !alive(context_); }, connectTimeout_);
    if (!contextGood()) {
        Error e = alive(context_) ? toError(AudioError::server, "the sound server did not answer in time")
                                  : lastError("cannot connect to the sound server");
        dropContext();
        return fail(e);
    }
    pa_context_set_subscribe_callback(context_, &Core::subscription, this);
    auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                    PA_SUBSCRIPTION_MASK_CARD | PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr)) pa_operation_unref(op);
    return context_;
}

namespace {

struct Query {
    Core* core;
    Snapshot snap;
    int pending = 4;
    bool failed = false;

    void done(bool ok) {
        if (!ok) failed = true;
        --pending;
        core->signal();
    }
};

template <class Info>
EndpointInfo endpointOf(const Info* i) {
    EndpointInfo e;
    e.index = i->index;
    e.name = text(i->name);
    e.description = text(i->description);
    e.card = i->card;
    e.channels = i->sample_spec.channels;
    e.rate = i->sample_spec.rate;
    e.bus = property(i->proplist, "device.bus");
    e.formFactor = property(i->proplist, "device.form_factor");
    return e;
}

}  // namespace

Result<Snapshot> Core::lockedSnapshot() {
    Lock lock(*this);
    if (lock.onLoopThread()) return fail(toError(AudioError::wrongThread));
    return snapshot();
}

Result<Snapshot> Core::snapshot() {
    auto ctx = context();
    if (!ctx) return fail(ctx.error());
    Query q{this};
    pa_operation* ops[4] = {
        pa_context_get_server_info(
            *ctx,
            [](pa_context*, const pa_server_info* i, void* u) {
                auto* q = static_cast<Query*>(u);
                if (i) {
                    q->snap.defaultSink = text(i->default_sink_name);
                    q->snap.defaultSource = text(i->default_source_name);
                }
                q->done(i != nullptr);
            },
            &q),
        pa_context_get_card_info_list(
            *ctx,
            [](pa_context*, const pa_card_info* i, int eol, void* u) {
                auto* q = static_cast<Query*>(u);
                if (eol != 0) return q->done(eol > 0);
                CardInfo c;
                c.index = i->index;
                c.name = text(i->name);
                c.description = property(i->proplist, "device.description");
                c.bus = property(i->proplist, "device.bus");
                c.formFactor = property(i->proplist, "device.form_factor");
                q->snap.cards.push_back(std::move(c));
            },
            &q),
        pa_context_get_sink_info_list(
            *ctx,
            [](pa_context*, const pa_sink_info* i, int eol, void* u) {
                auto* q = static_cast<Query*>(u);
                if (eol != 0) return q->done(eol > 0);
                q->snap.sinks.push_back(endpointOf(i));
            },
            &q),
        pa_context_get_source_info_list(
            *ctx,
            [](pa_context*, const pa_source_info* i, int eol, void* u) {
                auto* q = static_cast<Query*>(u);
                if (eol != 0) return q->done(eol > 0);
                EndpointInfo e = endpointOf(i);
                e.monitor = i->monitor_of_sink != PA_INVALID_INDEX;
                q->snap.sources.push_back(std::move(e));
            },
            &q),
    };
    bool issued = std::all_of(std::begin(ops), std::end(ops), [](pa_operation* op) { return op != nullptr; });
    if (issued) wait([&q] { return q.pending == 0; }, kQueryTimeout);
    // Nothing may call back into `q` once this returns.
    for (pa_operation* op : ops) {
        if (!op) continue;
        if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
        pa_operation_unref(op);
    }
    if (!issued || q.pending != 0 || q.failed) return fail(lastError("cannot read the sound server's devices"));
    return std::move(q.snap);
}

}  // namespace platform::pulse
