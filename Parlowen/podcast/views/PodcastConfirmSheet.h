#pragma once

#include <functional>
#include <string>

#include <QDialog>

#include "Parlowen/shell/views/ThemePalette.h"

namespace parlowen {

// Asks before an article is turned into a podcast: which article, which voice
// engine, which script model, which two voices, and what to expect. Starts
// nothing itself: "Generate podcast" (Return) runs `onConfirm` once, then
// closes; "Cancel" (Escape) only closes. Window-modal over its parent (the
// Listen Later window). Texts stay in the brand ink on the brand cream; only
// the symbols, the details box and the confirming button take the accent.
class PodcastConfirmSheet : public QDialog {
public:
    static constexpr int kWidth = 460;

    PodcastConfirmSheet(std::string itemTitle, std::string engineName, std::string scriptModelName,
                        std::string hostAVoiceName, std::string hostBVoiceName, ThemePalette palette,
                        std::function<void()> onConfirm, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void confirm();

    std::function<void()> onConfirm_;
};

}  // namespace parlowen
