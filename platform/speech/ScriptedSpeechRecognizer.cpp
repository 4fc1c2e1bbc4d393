#include "platform/speech/ScriptedSpeechRecognizer.h"

namespace platform {

void ScriptedSpeechRecognizer::Request::append(const PcmBuffer& buffer) {
    std::lock_guard lock(mutex_);
    ++buffers_;
    frames_ += buffer.frameLength();
}

void ScriptedSpeechRecognizer::Request::endAudio() {
    std::lock_guard lock(mutex_);
    ended_ = true;
}

int ScriptedSpeechRecognizer::Request::appendedBuffers() const {
    std::lock_guard lock(mutex_);
    return buffers_;
}

std::uint64_t ScriptedSpeechRecognizer::Request::appendedFrames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

bool ScriptedSpeechRecognizer::Request::audioEnded() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

SpeechTaskState ScriptedSpeechRecognizer::Task::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void ScriptedSpeechRecognizer::Task::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (state_ != SpeechTaskState::completed) state_ = SpeechTaskState::canceling;
}

bool ScriptedSpeechRecognizer::Task::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void ScriptedSpeechRecognizer::Task::setState(SpeechTaskState s) {
    std::lock_guard lock(mutex_);
    state_ = s;
}

ScriptedSpeechRecognizer::ScriptedSpeechRecognizer(std::string locale, bool onDevice)
    : locale_(std::move(locale)), onDevice_(onDevice), thread_([this] { run(); }) {}

ScriptedSpeechRecognizer::~ScriptedSpeechRecognizer() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    thread_.join();
}

std::shared_ptr<SpeechAudioRequest> ScriptedSpeechRecognizer::makeRequest(SpeechRequestOptions options) {
    return std::make_shared<Request>(std::move(options));
}

std::shared_ptr<SpeechRecognitionTask> ScriptedSpeechRecognizer::recognitionTask(
    std::shared_ptr<SpeechAudioRequest> request, SpeechResultHandler handler) {
    auto task = std::make_shared<Task>();
    task->request = std::dynamic_pointer_cast<Request>(request);
    task->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    tasks_.push_back(task);
    return task;
}

int ScriptedSpeechRecognizer::taskCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(tasks_.size());
}

std::shared_ptr<ScriptedSpeechRecognizer::Task> ScriptedSpeechRecognizer::task(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(tasks_.size())) return nullptr;
    return tasks_[index];
}

std::shared_ptr<ScriptedSpeechRecognizer::Task> ScriptedSpeechRecognizer::lastTask() const {
    std::lock_guard lock(mutex_);
    return tasks_.empty() ? nullptr : tasks_.back();
}

void ScriptedSpeechRecognizer::emitResult(int index, const std::string& text, bool isFinal) {
    deliver(index, SpeechRecognitionResult{text, isFinal}, std::nullopt, true);
}

void ScriptedSpeechRecognizer::emitError(int index, Error error) {
    deliver(index, std::nullopt, std::move(error), true);
}

void ScriptedSpeechRecognizer::emitResultAndError(int index, const std::string& text, bool isFinal, Error error) {
    deliver(index, SpeechRecognitionResult{text, isFinal}, std::move(error), true);
}

void ScriptedSpeechRecognizer::emitResultLater(int index, const std::string& text, bool isFinal) {
    deliver(index, SpeechRecognitionResult{text, isFinal}, std::nullopt, false);
}

void ScriptedSpeechRecognizer::deliver(int index, std::optional<SpeechRecognitionResult> result,
                                       std::optional<Error> error, bool wait) {
    auto t = task(index);
    if (!t) return;
    std::uint64_t ticket;
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back([t, result = std::move(result), error = std::move(error)] {
            if ((result && result->isFinal) || error) t->setState(SpeechTaskState::completed);
            if (t->handler) t->handler(result, error);
        });
        ticket = ++posted_;
    }
    queueChanged_.notify_all();
    if (!wait) return;
    std::unique_lock lock(queueMutex_);
    queueChanged_.wait(lock, [&] { return handled_ >= ticket; });
}

void ScriptedSpeechRecognizer::drain() {
    std::unique_lock lock(queueMutex_);
    std::uint64_t ticket = posted_;
    queueChanged_.wait(lock, [&] { return handled_ >= ticket; });
}

void ScriptedSpeechRecognizer::run() {
    std::unique_lock lock(queueMutex_);
    while (true) {
        queueChanged_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        auto job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job();
        lock.lock();
        ++handled_;
        queueChanged_.notify_all();
    }
}

}  // namespace platform
