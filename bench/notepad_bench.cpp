// A recogniser partial merged into the Notepad, through the coordinator and
// the editor of its window (offscreen), into a 100,000-character text against
// the same into a 1,000-character one. The larger must stay within 3× of the
// smaller: a partial only rewrites the slot at the end of the text.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <nlohmann/json.hpp>

#include "Parlowen/notepad/NotepadTestSupport.h"
#include "Parlowen/notepad/views/NotepadContent.h"
#include "Parlowen/notepad/views/NotepadHUDController.h"
#include "bench/BenchMain.h"
#include "platform/ui/Animations.h"
#include "platform/ui/RecordingAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace {

// Dictated notes of about `characters` characters: sentences in paragraphs.
std::string notes(std::size_t characters) {
    static const char* sentences[] = {
        "We met at the station before nine and walked down to the river together. ",
        "The survey team counted the birds that came to the shallows near the bridge. ",
        "Remember to send the council the numbers from the spring count by Friday. ",
        "Next year we want more volunteers who do not mind getting their boots wet. ",
    };
    std::string text;
    std::size_t paragraph = 0;
    for (std::size_t i = 0; text.size() < characters; ++i) {
        text += sentences[i % std::size(sentences)];
        if (text.size() - paragraph > 400) {
            text += "\n\n";
            paragraph = text.size();
        }
    }
    text.resize(characters);
    text.back() = '.';
    return text;
}

// The coordinator and its window with the doubles of the Notepad's tests.
class NotepadBench final : public notepadtest::NotepadFixture {
public:
    NotepadBench() {
        hud = std::make_unique<parlowen::NotepadHUDController>(
            *notepad, prefs,
            parlowen::NotepadContent::Services{catalog, reduceMotion, announcer, alerts, defaults, main,
                                               [] { return false; }});
        notepad->open();
        main.runUntilIdle();
        hud->show();
        QApplication::processEvents();
    }
    void TestBody() override {}

    // The text, with the editor scrolled to its end, where the partials land.
    void seed(const std::string& text) {
        notepad->setDisplayedText(text);
        main.runUntilIdle();
        auto* e = editor();
        e->moveCursor(QTextCursor::End);
        e->ensureCursorVisible();
        QApplication::processEvents();
    }
    // One partial from the recogniser, handled and shown.
    void partial(const std::string& text) {
        engine().say(text);
        main.runUntilIdle();
        QApplication::processEvents();
    }
    QPlainTextEdit* editor() const { return hud->content()->findChild<QPlainTextEdit*>(QStringLiteral("editor")); }
    std::string shown() const { return editor()->toPlainText().toStdString(); }
    bool recording() const { return notepad->isRecording().get(); }

    platform::ui::AnimationsOff noAnimations;
    platform::ui::ReduceMotionSwitch reduceMotion;
    platform::ui::RecordingAnnouncer announcer;
    platform::ui::ScriptedAlertPresenter alerts;
    parlowen::AudioDeviceCatalog catalog{hardware, main};
    std::unique_ptr<parlowen::NotepadHUDController> hud;
};

void BM_PartialIntoNotepad(benchmark::State& state) {
    NotepadBench notepad;
    if (!notepad.recording()) {
        state.SkipWithError("the Notepad did not start recording");
        return;
    }
    const std::string text = notes(static_cast<std::size_t>(state.range(0)));
    notepad.seed(text);
    // The recogniser's partial grows and is revised, as it does while one speaks.
    const std::string partials[] = {"and then we walked along the", "and then we walked along the river",
                                    "and then we worked along the river bank"};
    notepad.partial(partials[0]);
    std::size_t i = 0;
    for (auto _ : state) notepad.partial(partials[++i % std::size(partials)]);
    if (notepad.shown() != text + " " + partials[i % std::size(partials)])
        state.SkipWithError("the editor does not show the text with the latest partial");
    state.counters["characters"] = static_cast<double>(text.size());
}
BENCHMARK(BM_PartialIntoNotepad)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The offscreen platform before the application object, which lives until
// the process ends (never torn down after the statics it uses).
const bool kApplication = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "bench_notepad";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    return true;
}();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_PartialIntoNotepad/100000/real_time", "BM_PartialIntoNotepad/1000/real_time", 3.0);
