#pragma once

#include <memory>

#include <QWidget>

#include "MacShareExtension/MacShareViewModel.h"

class QLabel;

namespace parlowen {

// The share panel: a symbol, a title and, after a failure, its message,
// centred in 320 × 220. Rebuilt whenever the model's state changes; colours
// come from the palette of the enclosing theme scope (or the Qt palette).
class MacShareConfirmation : public QWidget {
public:
    struct Look {
        const char* symbol;
        const char* title;
    };
    static Look lookOf(MacShareViewModel::State::Kind kind);

    explicit MacShareConfirmation(std::shared_ptr<MacShareViewModel> model, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void render(const MacShareViewModel::State& state);

    std::shared_ptr<MacShareViewModel> model_;
    MacShareViewModel::State shown_;
    QLabel* symbol_;
    QLabel* title_;
    QLabel* message_;
    platform::Subscription subscription_;
    bool rendering_ = false;
};

}  // namespace parlowen
