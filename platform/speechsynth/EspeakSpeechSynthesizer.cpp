#include "platform/speechsynth/EspeakSpeechSynthesizer.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "platform/log/Log.h"

namespace platform {
namespace {

Error synthError(int code, std::string caseName, std::string description) {
    return Error::make(kSpeechSynthErrorDomain, code, std::move(caseName), std::move(description));
}

// espeak-ng's own speed limits (words per minute) and its normal speed.
constexpr int kMinimumWpm = 80;
constexpr int kNormalWpm = 175;
constexpr int kMaximumWpm = 450;

// 0 .. 0.5 .. 1 on the common scale onto espeak's slowest .. normal .. fastest.
int wordsPerMinute(float rate) {
    const float r = clampSpeechRate(rate);
    if (r <= kSpeechDefaultRate) return kMinimumWpm + static_cast<int>((kNormalWpm - kMinimumWpm) * (r / 0.5f) + 0.5f);
    return kNormalWpm + static_cast<int>((kMaximumWpm - kNormalWpm) * ((r - 0.5f) / 0.5f) + 0.5f);
}

// "en-gb-x-rp" -> "en-GB-x-rp": the region subtag in capitals, as BCP 47 writes it.
std::string bcp47(std::string_view espeakLanguage) {
    std::string out(espeakLanguage);
    auto dash = out.find('-');
    if (dash != std::string::npos) {
        auto end = out.find('-', dash + 1);
        std::size_t len = (end == std::string::npos ? out.size() : end) - dash - 1;
        if (len == 2)
            for (std::size_t i = dash + 1; i < dash + 3; ++i)
                if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
    }
    return out;
}

// espeak's 16-bit mono samples as a buffer of their own.
PcmBuffer monoBuffer(double rate, const std::int16_t* samples, std::size_t count) {
    PcmBuffer b(PcmFormat::int16(rate, 1), static_cast<std::uint32_t>(count));
    std::memcpy(b.data(), samples, count * sizeof(std::int16_t));
    b.setFrameLength(static_cast<std::uint32_t>(count));
    return b;
}

// One synthesis, as espeak's callback reports it.
using ChunkFn = std::function<bool(const short* samples, int count, const espeak_EVENT* events)>;

// The process's one espeak-ng engine, on its own thread: every espeak call
// happens there. Created on first use and kept for the life of the process
// (jobs may hold the last reference to a synthesiser, so the engine must
// never be torn down from its own thread).
class EspeakService {
public:
    static EspeakService& shared() {
        static EspeakService* service = new EspeakService();
        return *service;
    }

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }

    // Blocks until espeak-ng has started (or failed to).
    const Status& status() const { return ready_.get().status; }
    const std::vector<SpeechVoice>& voices() const { return ready_.get().voices; }
    double sampleRate() const { return ready_.get().sampleRate; }

    // On the service thread only.
    Status synthesize(const std::string& text, const std::string& voiceIdentifier, float rate, const ChunkFn& onChunk) {
        if (!status()) return status();
        // espeak-ng makes a breath of silence even for nothing; nothing to say gives no audio.
        if (text::trim(text).empty()) return ok();
        if (espeak_SetVoiceByName(voiceIdentifier.c_str()) != EE_OK)
            log_.error("voice not usable id={}", voiceIdentifier);
        espeak_SetParameter(espeakRATE, wordsPerMinute(rate), 0);
        current_ = &onChunk;
        espeak_ERROR e = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                                      nullptr);
        current_ = nullptr;
        if (e != EE_OK) return fail(synthError(2, "synthesisFailed", "espeak-ng synthesis failed (" + std::to_string(e) + ")"));
        return ok();
    }

private:
    struct Ready {
        Status status;
        std::vector<SpeechVoice> voices;
        double sampleRate = 0;
    };

    EspeakService() {
        std::promise<Ready> promise;
        ready_ = promise.get_future().share();
        std::thread([this, p = std::move(promise)]() mutable { run(std::move(p)); }).detach();
    }

    void run(std::promise<Ready> promise) {
        Ready ready;
        int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (rate <= 0) {
            ready.status = fail(synthError(1, "unavailable", "espeak-ng could not start (are its data files installed?)"));
            log_.error("espeak-ng initialise failed");
        } else {
            ready.sampleRate = rate;
            espeak_SetSynthCallback(&EspeakService::callback);
            for (const espeak_VOICE** v = espeak_ListVoices(nullptr); v && *v; ++v) {
                const char* languages = (*v)->languages;
                std::string language = languages && languages[0] ? bcp47(languages + 1) : std::string();
                ready.voices.push_back({(*v)->identifier ? (*v)->identifier : "", (*v)->name ? (*v)->name : "",
                                        language, "default"});
            }
        }
        promise.set_value(std::move(ready));
        while (true) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    static int callback(short* wav, int count, espeak_EVENT* events) {
        const ChunkFn* fn = shared().current_;
        if (!fn) return 0;
        return (*fn)(wav, count, events) ? 0 : 1;  // 1 asks espeak to abort
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::shared_future<Ready> ready_;
    const ChunkFn* current_ = nullptr;  // the running synthesis (service thread only)
    Logger log_{"com.kelvatrum.Parlowen", "speechsynth"};
};

// A whole utterance cut at its word and sentence starts.
struct Segment {
    PcmBuffer buffer;
    std::vector<SpeechEvent> eventsBefore;  // fire as this piece starts to play
};

}  // namespace

struct EspeakSpeechSynthesizer::Impl : std::enable_shared_from_this<Impl> {
    struct Pending {
        UtteranceID id = 0;
        SpeechUtterance utterance;
    };

    Impl(AudioOutput& o, std::string lang) : output(o), language(std::move(lang)) {}

    AudioOutput& output;
    const std::string language;
    EspeakService& service = EspeakService::shared();

    // Order: streamMutex, then stateMutex. Audio completions take only
    // stateMutex (and handlerMutex to report), and nothing calls the stream
    // while holding stateMutex or handlerMutex.
    mutable std::mutex stateMutex;
    std::deque<Pending> queue;  // front: the utterance under way
    bool paused = false;
    UtteranceID nextId = 0;
    std::atomic<UtteranceID> frontId{0};

    std::mutex streamMutex;
    std::unique_ptr<AudioOutputStream> stream;

    // Taken last, around each handler call.
    std::mutex handlerMutex;
    EventHandler handler;

    Logger log{"com.kelvatrum.Parlowen", "speechsynth"};

    std::string resolveVoice(const std::optional<std::string>& identifier) {
        const auto& all = service.voices();
        if (identifier && findVoice(all, *identifier)) return *identifier;
        if (auto v = platform::voiceForLanguage(all, language)) return v->identifier;
        if (auto v = platform::voiceForLanguage(all, "en")) return v->identifier;
        return "en";
    }

    // Handler calls are serialised and never outlive setEventHandler or the
    // destructor: whoever replaces the handler waits for a call under way.
    void emit(const SpeechEvent& e) {
        std::lock_guard lock(handlerMutex);
        if (handler) handler(e);
    }

    void startFront() {
        Pending p;
        {
            std::lock_guard lock(stateMutex);
            if (queue.empty()) return;
            p = queue.front();
        }
        service.post([self = shared_from_this(), p = std::move(p)]() mutable { self->runFront(p.id, p.utterance); });
    }

    // Ends the utterance if it is still the current one, then starts the next.
    void finishUtterance(UtteranceID id) { endUtterance({SpeechEvent::Kind::finished, id, {}}); }
    // Ends it with `failed` and the reason.
    void failUtterance(UtteranceID id, Error error) {
        log.error("speech could not be played: {}{}", error.description,
                  error.underlying ? ": " + error.underlying->description : std::string());
        endUtterance({SpeechEvent::Kind::failed, id, {}, std::move(error)});
    }

    void endUtterance(const SpeechEvent& end) {
        const UtteranceID id = end.utterance;
        bool more = false;
        {
            std::lock_guard lock(stateMutex);
            if (queue.empty() || queue.front().id != id) return;
            queue.pop_front();
            more = !queue.empty();
            frontId = more ? queue.front().id : 0;
            if (!more) paused = false;
        }
        emit(end);
        if (more) startFront();
    }

    // Service thread: synthesise the whole utterance and cut it at its events.
    Result<std::vector<Segment>> synthesizeSegments(UtteranceID id, const SpeechUtterance& u) {
        std::vector<std::int16_t> samples;
        struct Mark {
            std::size_t sample;
            SpeechEvent event;
            std::size_t codePoint;  // sentences: where it starts, to find where it ends
        };
        std::vector<Mark> marks;
        text::TextOffsets offsets(u.text);
        auto range = [&](int position, int length) {
            std::size_t begin = position > 0 ? static_cast<std::size_t>(position - 1) : 0;  // 1-based code points
            return text::TextRange{offsets.byteFromCodePoint(begin),
                                   offsets.byteFromCodePoint(begin + static_cast<std::size_t>(std::max(length, 0)))};
        };
        ChunkFn onChunk = [&](const short* wav, int count, const espeak_EVENT* ev) {
            if (frontId != id) return false;
            for (; ev && ev->type != espeakEVENT_LIST_TERMINATED; ++ev) {
                // espeak-ng sometimes reports empty words (length 0) once it has
                // spoken before; they name no text and are left out.
                if (ev->type == espeakEVENT_WORD && ev->length > 0)
                    marks.push_back({static_cast<std::size_t>(std::max(ev->sample, 0)),
                                     {SpeechEvent::Kind::word, id, range(ev->text_position, ev->length)}, 0});
                else if (ev->type == espeakEVENT_SENTENCE)
                    marks.push_back({static_cast<std::size_t>(std::max(ev->sample, 0)),
                                     {SpeechEvent::Kind::sentence, id, range(ev->text_position, 0)},
                                     static_cast<std::size_t>(std::max(ev->text_position - 1, 0))});
            }
            if (wav && count > 0) samples.insert(samples.end(), wav, wav + count);
            return true;
        };
        auto status = service.synthesize(u.text, resolveVoice(u.voiceIdentifier), u.rate, onChunk);
        if (!status) return fail(status.error());
        // A sentence runs to the start of the next one, or to the end of the text.
        for (std::size_t i = 0; i < marks.size(); ++i) {
            if (marks[i].event.kind != SpeechEvent::Kind::sentence) continue;
            std::size_t end = offsets.codePointCount();
            for (std::size_t j = i + 1; j < marks.size(); ++j)
                if (marks[j].event.kind == SpeechEvent::Kind::sentence) {
                    end = marks[j].codePoint;
                    break;
                }
            marks[i].event.range.end = offsets.byteFromCodePoint(end);
        }
        std::stable_sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.sample < b.sample; });

        std::vector<Segment> segments;
        const double rate = service.sampleRate();
        std::size_t start = 0, m = 0;
        while (start < samples.size() || (segments.empty() && m < marks.size())) {
            Segment seg;
            while (m < marks.size() && marks[m].sample <= start) seg.eventsBefore.push_back(marks[m++].event);
            std::size_t end = m < marks.size() ? std::min(marks[m].sample, samples.size()) : samples.size();
            if (end <= start) end = samples.size();
            seg.buffer = monoBuffer(rate, samples.data() + start, end - start);
            segments.push_back(std::move(seg));
            start = end;
            if (start >= samples.size()) break;
        }
        // Events past the last sample still fire, at the end of the audio.
        if (!segments.empty())
            while (m < marks.size()) segments.back().eventsBefore.push_back(marks[m++].event);
        return segments;
    }

    void runFront(UtteranceID id, SpeechUtterance u) {
        if (frontId != id) return;
        auto segments = synthesizeSegments(id, u);
        if (frontId != id) return;
        if (!segments) {
            failUtterance(id, segments.error());
            return;
        }
        emit({SpeechEvent::Kind::started, id, {}});
        if (segments->empty() || segments->front().buffer.empty()) {
            if (!segments->empty())
                for (auto& e : segments->front().eventsBefore) emit(e);
            finishUtterance(id);
            return;
        }
        for (auto& e : segments->front().eventsBefore) emit(e);

        std::optional<Error> failure;
        {
            std::lock_guard streamLock(streamMutex);
            bool holdPaused = false;
            {
                std::lock_guard lock(stateMutex);
                if (queue.empty() || queue.front().id != id) return;
                holdPaused = paused;
            }
            if (!stream) {
                auto opened = output.openStream({std::nullopt, service.sampleRate(), 1, "Parlowen speech"});
                if (opened)
                    stream = std::move(*opened);
                else
                    failure = synthError(4, "noAudioOutput", "No audio output is available.").withUnderlying(opened.error());
            }
            if (stream) {
                const std::size_t count = segments->size();
                std::weak_ptr<Impl> weak = weak_from_this();
                for (std::size_t i = 0; i < count && !failure; ++i) {
                    std::vector<SpeechEvent> next;
                    if (i + 1 < count) next = std::move((*segments)[i + 1].eventsBefore);
                    bool last = i + 1 == count;
                    auto done = [weak, id, last, next = std::move(next)](ScheduledBufferEnd end) {
                        auto self = weak.lock();
                        if (!self || self->frontId != id) return;
                        if (end == ScheduledBufferEnd::stopped) {
                            // Not our stop (that clears the queue first): the output went away.
                            self->failUtterance(id, synthError(3, "outputLost", "The audio output went away."));
                            return;
                        }
                        for (const auto& e : next) self->emit(e);
                        if (last) self->finishUtterance(id);
                    };
                    if (auto s = stream->schedule(std::move((*segments)[i].buffer), std::move(done)); !s)
                        failure = s.error();
                }
                if (!failure && !holdPaused)
                    if (auto s = stream->play(); !s) failure = s.error();
                if (failure) stream.reset();  // opened afresh for the next utterance
            }
        }
        if (failure) failUtterance(id, std::move(*failure));
    }
};

EspeakSpeechSynthesizer::EspeakSpeechSynthesizer(AudioOutput& output, const Environment& environment)
    : impl_(std::make_shared<Impl>(output, languageCodeFromEnvironment(environment))) {}

EspeakSpeechSynthesizer::~EspeakSpeechSynthesizer() {
    {
        std::lock_guard lock(impl_->handlerMutex);
        impl_->handler = nullptr;
    }
    {
        std::lock_guard lock(impl_->stateMutex);
        impl_->queue.clear();
        impl_->frontId = 0;
    }
    std::lock_guard streamLock(impl_->streamMutex);
    impl_->stream.reset();
}

Status EspeakSpeechSynthesizer::available() { return EspeakService::shared().status(); }

std::vector<SpeechVoice> EspeakSpeechSynthesizer::voices() { return impl_->service.voices(); }

std::string EspeakSpeechSynthesizer::currentLanguageCode() const { return impl_->language; }

void EspeakSpeechSynthesizer::setEventHandler(EventHandler handler) {
    std::lock_guard lock(impl_->handlerMutex);
    impl_->handler = std::move(handler);
}

UtteranceID EspeakSpeechSynthesizer::speak(SpeechUtterance utterance) {
    UtteranceID id = 0;
    bool first = false;
    {
        std::lock_guard lock(impl_->stateMutex);
        id = ++impl_->nextId;
        impl_->queue.push_back({id, std::move(utterance)});
        first = impl_->queue.size() == 1;
        if (first) impl_->frontId = id;
    }
    if (first) impl_->startFront();
    return id;
}

void EspeakSpeechSynthesizer::stopSpeaking() {
    std::vector<UtteranceID> cancelled;
    {
        std::lock_guard lock(impl_->stateMutex);
        for (auto& p : impl_->queue) cancelled.push_back(p.id);
        impl_->queue.clear();
        impl_->paused = false;
        impl_->frontId = 0;
    }
    if (cancelled.empty()) return;  // nothing under way: the output is left alone
    {
        std::lock_guard streamLock(impl_->streamMutex);
        if (impl_->stream) impl_->stream->stop();
    }
    for (auto id : cancelled) impl_->emit({SpeechEvent::Kind::cancelled, id, {}});
}

bool EspeakSpeechSynthesizer::pauseSpeaking() {
    {
        std::lock_guard lock(impl_->stateMutex);
        if (impl_->queue.empty() || impl_->paused) return false;
        impl_->paused = true;
    }
    std::lock_guard streamLock(impl_->streamMutex);
    if (impl_->stream) impl_->stream->pause();
    return true;
}

bool EspeakSpeechSynthesizer::continueSpeaking() {
    {
        std::lock_guard lock(impl_->stateMutex);
        if (!impl_->paused) return false;
        impl_->paused = false;
    }
    std::lock_guard streamLock(impl_->streamMutex);
    if (impl_->stream)
        if (auto s = impl_->stream->play(); !s) impl_->log.error("speech playback failed: {}", s.error().description);
    return true;
}

bool EspeakSpeechSynthesizer::isSpeaking() const {
    std::lock_guard lock(impl_->stateMutex);
    return !impl_->queue.empty();
}

bool EspeakSpeechSynthesizer::isPaused() const {
    std::lock_guard lock(impl_->stateMutex);
    return impl_->paused;
}

void EspeakSpeechSynthesizer::write(SpeechUtterance utterance, BufferHandler onBuffer) {
    impl_->service.post([self = impl_, u = std::move(utterance), onBuffer = std::move(onBuffer)] {
        const double rate = self->service.sampleRate();
        ChunkFn onChunk = [&](const short* wav, int count, const espeak_EVENT*) {
            if (wav && count > 0) onBuffer(monoBuffer(rate, wav, static_cast<std::size_t>(count)));
            return true;
        };
        auto status = self->service.synthesize(u.text, self->resolveVoice(u.voiceIdentifier), u.rate, onChunk);
        if (!status) {
            onBuffer(fail(status.error()));
            return;
        }
        onBuffer(PcmBuffer(PcmFormat::int16(rate > 0 ? rate : 22050, 1), 0));
    });
}

}  // namespace platform
