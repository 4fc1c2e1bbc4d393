#pragma once

// The model runtime of tests. A bundle's manifest names this runtime and a
// behaviour: a C++ function the test registered, which computes the outputs
// from the inputs. Loading goes through the same manifest selection and
// `Model` code as every other runtime (so inputs are checked strictly against
// the description and output backings are honoured); on top of that the
// runtime records every load and prediction, and injects failures, latency
// and refusal of output backings.
//
//   auto runtime = std::make_shared<TestModelRuntime>();
//   ScopedRuntimeRegistration registration(runtime);
//   runtime->registerBehaviour("double", doubleTheInput);
//   writeTestModelBundle(dir / "m.mlmodelc", description, "double");
//   auto model = Model::load(dir / "m.mlmodelc");

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ml/Model.h"
#include "platform/runtime/Executor.h"

namespace platform::ml {

struct TestPrediction {
    const ModelBundle& bundle;
    const ModelConfiguration& configuration;
    const FeatureProvider& inputs;
    const State* state;

    // The input array under `name` (the description has already been checked).
    MultiArray input(std::string_view name) const;
    std::optional<MultiArray> stateArray(std::string_view name) const;
};

using TestBehaviour = std::function<Result<FeatureMap>(const TestPrediction&)>;

struct RecordedPrediction {
    std::string behaviour;
    std::filesystem::path bundle;
    FeatureMap inputs;  // copies taken when the call began
    std::vector<std::string> outputBackings;
    bool withState = false;
    bool asynchronous = false;
    ModelConfiguration configuration;
    std::thread::id thread;
};

struct RecordedLoad {
    std::filesystem::path bundle;
    std::string behaviour;
    ModelConfiguration configuration;
};

class TestModelRuntime : public ModelRuntime {
public:
    static constexpr const char* kName = "parlowen-test";

    TestModelRuntime();
    std::string name() const override { return kName; }
    Result<std::unique_ptr<ModelEngine>> load(const ModelBundle& bundle,
                                              const ModelConfiguration& configuration) override;

    void registerBehaviour(std::string name, TestBehaviour behaviour);

    // The next `times` loads / predictions of the behaviour fail with `error`
    // (every one when times is negative). The failing call is still recorded.
    void failLoads(const std::string& behaviour, Error error, int times = -1);
    void failPredictions(const std::string& behaviour, Error error, int times = -1);
    void clearFailures();
    // Asynchronous predictions wait this long on the awaiting task's executor
    // (virtual time under a ManualExecutor); synchronous ones sleep for real.
    void setLatency(const std::string& behaviour, Duration latency);
    // Refuses output backings, as some models do; callers then run without them.
    void rejectOutputBackings(const std::string& behaviour, bool reject = true);

    // Recorded calls, in the order they began; all behaviours when `behaviour` is empty.
    std::vector<RecordedPrediction> predictions(const std::string& behaviour = {}) const;
    std::vector<RecordedLoad> loads() const;
    void clearRecords();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

// Writes a bundle (a compiled one, or a package when `package` is true) whose
// manifest names the test runtime and `behaviour`.
Status writeTestModelBundle(const std::filesystem::path& directory, const ModelDescription& description,
                            std::string_view behaviour, bool package = false);

}  // namespace platform::ml
