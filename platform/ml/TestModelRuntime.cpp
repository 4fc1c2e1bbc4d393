#include "platform/ml/TestModelRuntime.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <cassert>
#include <map>
#include <mutex>
#include <optional>

namespace platform::ml {

MultiArray TestPrediction::input(std::string_view name) const {
    auto a = multiArrayFeature(inputs, name);
    assert(a && "the behaviour asked for an input the model does not have");
    return a ? *a : MultiArray();
}

std::optional<MultiArray> TestPrediction::stateArray(std::string_view name) const {
    if (!state) return std::nullopt;
    return state->array(name);
}

namespace {
struct Injected {
    Error error;
    int remaining = -1;
};

// Takes one use of an injected failure; returns it when it applies.
std::optional<Error> take(std::map<std::string, Injected>& table, const std::string& behaviour) {
    auto it = table.find(behaviour);
    if (it == table.end()) return std::nullopt;
    Error e = it->second.error;
    if (it->second.remaining > 0 && --it->second.remaining == 0) table.erase(it);
    return e;
}
}  // namespace

struct TestModelRuntime::Shared {
    mutable std::mutex mutex;
    std::map<std::string, TestBehaviour> behaviours;
    std::map<std::string, Injected> loadFailures;
    std::map<std::string, Injected> predictionFailures;
    std::map<std::string, Duration> latency;
    std::map<std::string, bool> rejectBackings;
    std::vector<RecordedPrediction> predictions;
    std::vector<RecordedLoad> loads;
};

namespace {

class TestEngine : public ModelEngine {
public:
    TestEngine(std::shared_ptr<TestModelRuntime::Shared> shared, std::string behaviourName, TestBehaviour behaviour)
        : shared_(std::move(shared)), name_(std::move(behaviourName)), behaviour_(std::move(behaviour)) {}

    Result<FeatureMap> predict(const PredictionRequest& request) override {
        auto [failure, latency] = begin(request, false);
        if (failure) return fail(*failure);
        if (latency > Duration::zero()) std::this_thread::sleep_for(latency);
        return behaviour_(TestPrediction{request.bundle, request.configuration, request.inputs, request.state});
    }

    Task<Result<FeatureMap>> predictAsync(const PredictionRequest& request) override {
        auto [failure, latency] = begin(request, true);
        if (failure) co_return fail(*failure);
        if (latency > Duration::zero()) {
            if (auto slept = co_await sleepFor(latency); !slept) co_return fail(slept.error());
        }
        co_return behaviour_(TestPrediction{request.bundle, request.configuration, request.inputs, request.state});
    }

    Status acceptOutputBackings(const PredictionRequest&) override {
        std::lock_guard lock(shared_->mutex);
        auto it = shared_->rejectBackings.find(name_);
        if (it != shared_->rejectBackings.end() && it->second)
            return fail(mlError(MLErrorCode::generic,
                                fmt::format("The model \"{}\" does not accept output backings", name_)));
        return ok();
    }

private:
    std::pair<std::optional<Error>, Duration> begin(const PredictionRequest& request, bool asynchronous) {
        RecordedPrediction record;
        record.behaviour = name_;
        record.bundle = request.bundle.path;
        for (const auto& name : request.inputs.featureNames()) {
            auto v = request.inputs.featureValue(name);
            if (!v) continue;
            if (auto a = v->multiArrayValue()) {
                auto copy = a->clone();
                if (copy) record.inputs.emplace(name, FeatureValue(*copy));
            } else {
                record.inputs.emplace(name, *v);
            }
        }
        for (const auto& [name, _] : request.options.outputBackings) record.outputBackings.push_back(name);
        record.withState = request.state != nullptr;
        record.asynchronous = asynchronous;
        record.configuration = request.configuration;
        record.thread = std::this_thread::get_id();

        std::lock_guard lock(shared_->mutex);
        shared_->predictions.push_back(std::move(record));
        auto latency = shared_->latency.count(name_) ? shared_->latency[name_] : Duration::zero();
        return {take(shared_->predictionFailures, name_), latency};
    }

    std::shared_ptr<TestModelRuntime::Shared> shared_;
    std::string name_;
    TestBehaviour behaviour_;
};

}  // namespace

TestModelRuntime::TestModelRuntime() : shared_(std::make_shared<Shared>()) {}

Result<std::unique_ptr<ModelEngine>> TestModelRuntime::load(const ModelBundle& bundle,
                                                             const ModelConfiguration& configuration) {
    std::string behaviourName;
    try {
        behaviourName = nlohmann::ordered_json::parse(bundle.runtimeOptionsJson).value("behaviour", "");
    } catch (const std::exception& e) {
        return fail(mlError(MLErrorCode::io, fmt::format("Invalid test runtime options: {}", e.what())));
    }
    std::lock_guard lock(shared_->mutex);
    shared_->loads.push_back(RecordedLoad{bundle.path, behaviourName, configuration});
    if (auto failure = take(shared_->loadFailures, behaviourName)) return fail(*failure);
    auto it = shared_->behaviours.find(behaviourName);
    if (it == shared_->behaviours.end())
        return fail(mlError(MLErrorCode::runtimeUnavailable,
                            fmt::format("No test behaviour \"{}\" is registered (bundle {})", behaviourName,
                                        bundle.path.string())));
    return std::unique_ptr<ModelEngine>(std::make_unique<TestEngine>(shared_, behaviourName, it->second));
}

void TestModelRuntime::registerBehaviour(std::string name, TestBehaviour behaviour) {
    std::lock_guard lock(shared_->mutex);
    shared_->behaviours[std::move(name)] = std::move(behaviour);
}

void TestModelRuntime::failLoads(const std::string& behaviour, Error error, int times) {
    std::lock_guard lock(shared_->mutex);
    if (times == 0) return;
    shared_->loadFailures[behaviour] = Injected{std::move(error), times};
}

void TestModelRuntime::failPredictions(const std::string& behaviour, Error error, int times) {
    std::lock_guard lock(shared_->mutex);
    if (times == 0) return;
    shared_->predictionFailures[behaviour] = Injected{std::move(error), times};
}

void TestModelRuntime::clearFailures() {
    std::lock_guard lock(shared_->mutex);
    shared_->loadFailures.clear();
    shared_->predictionFailures.clear();
}

void TestModelRuntime::setLatency(const std::string& behaviour, Duration latency) {
    std::lock_guard lock(shared_->mutex);
    shared_->latency[behaviour] = latency;
}

void TestModelRuntime::rejectOutputBackings(const std::string& behaviour, bool reject) {
    std::lock_guard lock(shared_->mutex);
    shared_->rejectBackings[behaviour] = reject;
}

std::vector<RecordedPrediction> TestModelRuntime::predictions(const std::string& behaviour) const {
    std::lock_guard lock(shared_->mutex);
    if (behaviour.empty()) return shared_->predictions;
    std::vector<RecordedPrediction> out;
    for (const auto& p : shared_->predictions)
        if (p.behaviour == behaviour) out.push_back(p);
    return out;
}

std::vector<RecordedLoad> TestModelRuntime::loads() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->loads;
}

void TestModelRuntime::clearRecords() {
    std::lock_guard lock(shared_->mutex);
    shared_->predictions.clear();
    shared_->loads.clear();
}

Status writeTestModelBundle(const std::filesystem::path& directory, const ModelDescription& description,
                            std::string_view behaviour, bool package) {
    nlohmann::ordered_json options;
    options["behaviour"] = std::string(behaviour);
    return writeModelBundle(directory, description, TestModelRuntime::kName, options.dump(), package);
}

}  // namespace platform::ml
