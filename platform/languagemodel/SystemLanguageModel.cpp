#include "platform/languagemodel/LanguageModel.h"

namespace platform {
namespace {

// No Linux distribution ships an on-device system language model, so there is
// nothing to ask: the model is never available and every prompt fails.
class UnavailableSession final : public LanguageModelSession {
public:
    Task<Result<std::string>> respond(std::string) override { return failNow(); }

private:
    static Task<Result<std::string>> failNow() {
        co_return fail(toError(LanguageModelError::unavailable, "this system has no on-device language model"));
    }
};

class LinuxSystemLanguageModel final : public LanguageModel {
public:
    LanguageModelAvailability availability() const override { return LanguageModelAvailability::deviceNotEligible; }
    std::shared_ptr<LanguageModelSession> makeSession(std::string) override {
        return std::make_shared<UnavailableSession>();
    }
};

}  // namespace

std::unique_ptr<LanguageModel> makeSystemLanguageModel() { return std::make_unique<LinuxSystemLanguageModel>(); }

}  // namespace platform
