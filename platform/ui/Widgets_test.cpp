#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTextEdit>
#include <QVBoxLayout>

#include "platform/runtime/Observable.h"
#include "platform/testsupport/TempHome.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Bindings.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Finders.h"
#include "platform/ui/FloatSlider.h"
#include "platform/ui/FloatingPanel.h"
#include "platform/ui/Forms.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ImageEffects.h"
#include "platform/ui/MarkdownLabel.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/PageHost.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {
namespace {

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

const Palette kLight{Color::rgb8(0xF4, 0xF5, 0xF7), Color::rgb8(0x1F, 0x29, 0x37), Color::rgb8(0x1F, 0x29, 0x37, 0.65),
                     Color::rgb8(0x5A, 0x7B, 0x5C), Color::white(),  Color::rgb8(0xE9, 0xEC, 0xEF),
                     Color::rgb8(0x5A, 0x7B, 0x5C, 0.18), false};
const Palette kDark{Color::rgb8(0x1F, 0x1B, 0x2E), Color::rgb8(0xF5, 0xEB, 0xDC), Color::rgb8(0xF5, 0xEB, 0xDC, 0.7),
                    Color::rgb8(0xE8, 0xA0, 0x4C), Color::rgb8(0x1F, 0x1B, 0x2E), Color::rgb8(0x2A, 0x25, 0x41),
                    Color::rgb8(0xE8, 0xA0, 0x4C, 0.4), true};

void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

class UiTest : public ::testing::Test {
protected:
    AnimationsOff noAnimations;
};

// ---- theme scope -------------------------------------------------------------

TEST_F(UiTest, ThemeScopeReachesNestedContentAndInnerScopesWin) {
    QWidget window;
    auto* outerChild = new QLabel("text", &window);
    auto* inner = new QWidget(&window);
    auto* innerChild = new QWidget(inner);

    EXPECT_FALSE(ThemeScope::paletteFor(innerChild)) << "no scope yet";
    ThemeScope::apply(&window, kDark);
    EXPECT_EQ(ThemeScope::paletteFor(innerChild), kDark);
    EXPECT_LT(window.palette().color(QPalette::Window).lightnessF(), 0.3) << "a dark palette gives a dark window";
    EXPECT_GT(outerChild->palette().color(QPalette::WindowText).lightnessF(), 0.7) << "and light text inside it";

    ThemeScope::apply(inner, kLight);
    EXPECT_EQ(ThemeScope::paletteFor(innerChild), kLight);
    EXPECT_EQ(ThemeScope::paletteFor(outerChild), kDark);

    ThemeScope::clear(inner);
    EXPECT_EQ(ThemeScope::paletteFor(innerChild), kDark);
}

TEST_F(UiTest, ThemeScopeFollowsAPaletteStreamUntilTheWindowGoes) {
    Observable<Palette> selected(kLight);
    auto window = std::make_unique<QWidget>();
    Subscription follow = ThemeScope::follow(window.get(), selected.stream());
    EXPECT_EQ(ThemeScope::paletteFor(window.get()), kLight);
    selected.set(kDark);
    EXPECT_EQ(ThemeScope::paletteFor(window.get()), kDark);
    EXPECT_EQ(window->palette().color(QPalette::Window), toQColor(kDark.surfaceBackground));
    window.reset();
    selected.set(kLight);  // the window is gone: nothing to apply, nothing crashes
}

// ---- bindings ----------------------------------------------------------------

TEST_F(UiTest, BoundSwitchAndStorePropertyStayInStepWithoutALoop) {
    Observable<bool> launchAtLogin(false);
    int writes = 0;
    auto counter = launchAtLogin.stream().dropFirst().subscribe([&](const bool&) { ++writes; });

    ToggleRow row("Launch at login");
    bindToggle(row.toggle(), launchAtLogin);
    EXPECT_FALSE(row.toggle()->isChecked());

    row.toggle()->click();  // the user flips it
    EXPECT_TRUE(launchAtLogin.get());
    EXPECT_EQ(writes, 1);

    launchAtLogin.set(false);  // the store changes elsewhere
    EXPECT_FALSE(row.toggle()->isChecked());
    EXPECT_EQ(writes, 2) << "showing the store's value wrote nothing back";

    row.toggle()->click();
    row.toggle()->click();
    EXPECT_FALSE(launchAtLogin.get());
    EXPECT_EQ(writes, 4);
}

// `observable` as a property whose change stream counts its live subscriptions.
template <class T>
Property<T> countingSubscriptions(Observable<T> observable, int& live) {
    const Stream<T> changes = observable.stream();
    return Property<T>([observable] { return observable.get(); },
                       [observable](T v) mutable { observable.set(std::move(v)); },
                       Stream<T>([changes, &live](Sink<T> sink) {
                           ++live;
                           auto inner = std::make_shared<Subscription>(changes.subscribe(std::move(sink)));
                           return Subscription([inner, &live] {
                               inner->reset();
                               --live;
                           });
                       }));
}

TEST_F(UiTest, BindingsEndWithTheirControl) {
    Observable<bool> flag(true);
    Observable<std::string> text("hello");
    int live = 0;
    {
        Switch toggle;
        QLineEdit field;
        bindToggle(&toggle, countingSubscriptions(flag, live));
        bindText(&field, countingSubscriptions(text, live));
        EXPECT_EQ(live, 2);
        EXPECT_EQ(field.text(), "hello");
        field.setText("typed");
        EXPECT_EQ(text.get(), "typed");
        text.set("from store");
        EXPECT_EQ(field.text(), "from store");
    }
    EXPECT_EQ(live, 0) << "the store subscriptions ended with their controls";
    flag.set(false);  // controls are gone; their bindings must not run
    text.set("later");
}

TEST_F(UiTest, FloatSliderKeepsStoredValuesExactAndWritesUserMoves) {
    Observable<float> rate(0.123456f);
    FloatSlider slider(0.0, 1.0);
    bindSlider(&slider, Property<float>(rate));
    EXPECT_FLOAT_EQ(static_cast<float>(slider.value()), 0.123456f) << "no rounding to the slider's positions";
    EXPECT_FLOAT_EQ(rate.get(), 0.123456f) << "showing the value did not write a rounded one back";

    slider.moveTo(750);
    EXPECT_FLOAT_EQ(rate.get(), 0.75f);
    rate.set(2.0f);  // out of range in the store: shown at the end, store untouched
    EXPECT_DOUBLE_EQ(slider.value(), 1.0);
    EXPECT_FLOAT_EQ(rate.get(), 2.0f);
}

TEST_F(UiTest, MenuPickerShowsTheTaggedEntryAndWritesChoices) {
    using E = PickerEntry<std::string>;
    Observable<std::optional<std::string>> device(std::nullopt);
    MenuPicker picker;
    auto* binding = bindPicker<std::string>(
        &picker, {E::absent("System default"), E::separator(), E::option("Desk Mic", "desk"), E::option("Headset", "hs")},
        device);
    EXPECT_EQ(picker.count(), 4);
    EXPECT_EQ(picker.currentEntry(), 0);

    picker.choose(3);
    EXPECT_EQ(device.get(), "hs");
    picker.choose(1);  // a separator is not a choice
    EXPECT_EQ(device.get(), "hs");
    EXPECT_EQ(picker.currentEntry(), 3);

    device.set(std::string("unplugged"));
    EXPECT_EQ(picker.currentEntry(), std::nullopt) << "no entry carries the stored value";

    // The device list changes: a "not connected" entry shows the stored choice,
    // and choosing it leaves the store alone.
    binding->setEntries({E::absent("System default"), E::option("Desk Mic", "desk"),
                         E::option("Saved device (not connected)", "unplugged")});
    EXPECT_EQ(picker.currentEntry(), 2);
    int writes = 0;
    auto counter = device.stream().dropFirst().subscribe([&](const auto&) { ++writes; });
    picker.choose(2);
    EXPECT_EQ(writes, 0);
    picker.choose(0);
    EXPECT_EQ(device.get(), std::nullopt) << "the absent entry writes no value";

    Observable<int> count(2);
    MenuPicker plain;
    bindPicker<int>(&plain, {PickerEntry<int>::option("One", 1), PickerEntry<int>::option("Two", 2)}, Property<int>(count));
    EXPECT_EQ(plain.currentEntry(), 1);
    plain.choose(0);
    EXPECT_EQ(count.get(), 1);
}

// ---- page host ---------------------------------------------------------------

TEST_F(UiTest, PageHostBuildsAPageAfreshEachTimeItIsShown) {
    PageHost host;
    int builds = 0;
    host.addPage("general", [&] {
        ++builds;
        auto* page = new QWidget;
        new QLineEdit(page);
        return page;
    });
    host.addPage("about", [] { return new QLabel("About"); });
    host.resize(300, 200);
    host.show();

    ASSERT_TRUE(host.showPage("general"));
    auto* typed = host.currentPage()->findChild<QLineEdit*>();
    typed->setText("unsaved");
    EXPECT_TRUE(host.showPage("general"));
    EXPECT_EQ(builds, 1) << "showing the current page again keeps it";

    host.showPage("about");
    EXPECT_EQ(host.currentKey(), "about");
    EXPECT_EQ(host.findChildren<QLineEdit*>().size(), 0u) << "the old page left the tree at once";
    EXPECT_FALSE(host.isFading()) << "no cross-fade with animations off";
    EXPECT_EQ(findNamed(&host, "crossFade"), nullptr);

    host.showPage("general");
    EXPECT_EQ(builds, 2);
    EXPECT_TRUE(host.currentPage()->findChild<QLineEdit*>()->text().isEmpty()) << "transient state starts over";
    QWidget* before = host.currentPage();
    host.rebuild();
    EXPECT_NE(host.currentPage(), before);
    EXPECT_FALSE(host.showPage("missing"));
}

TEST(PageHostAnimated, CrossFadesWhenAnimationsAreOn) {
    ASSERT_TRUE(animationsEnabled()) << "animations are on by default";
    PageHost host;
    host.addPage("a", [] { return new QLabel("A"); });
    host.addPage("b", [] { return new QLabel("B"); });
    host.resize(200, 100);
    host.show();
    host.showPage("a");
    host.showPage("b");
    EXPECT_TRUE(host.isFading());
    EXPECT_NE(findNamed(&host, "crossFade"), nullptr);
}

// ---- default actions -----------------------------------------------------------

TEST_F(UiTest, ReturnAndEscapeReachTheWindowsDefaultAndCancelButtons) {
    QWidget window;
    auto* box = new QVBoxLayout(&window);
    auto* field = new QLineEdit;
    auto* notes = new QTextEdit;
    auto* primary = new PushButton("Continue", ButtonStyle::borderedProminent);
    auto* back = new PushButton("Back");
    int continued = 0, backed = 0;
    QObject::connect(primary, &QPushButton::clicked, [&] { ++continued; });
    QObject::connect(back, &QPushButton::clicked, [&] { ++backed; });
    setDefaultAction(primary);  // marked before it is in a window
    setCancelAction(back);
    box->addWidget(field);
    box->addWidget(notes);
    box->addWidget(back);
    box->addWidget(primary);
    window.show();

    pressKey(field, Qt::Key_Return);
    EXPECT_EQ(continued, 1) << "a single-line field leaves Return to the default action";
    pressKey(notes, Qt::Key_Return);
    EXPECT_EQ(continued, 1) << "a multi-line text keeps Return for itself";
    EXPECT_EQ(notes->toPlainText(), "\n");
    pressKey(&window, Qt::Key_Enter);
    EXPECT_EQ(continued, 2);

    primary->setEnabled(false);
    pressKey(field, Qt::Key_Return);
    EXPECT_EQ(continued, 2) << "a disabled default action ignores Return";
    primary->setEnabled(true);
    pressKey(field, Qt::Key_Return);
    EXPECT_EQ(continued, 3) << "and works again once enabled";

    pressKey(field, Qt::Key_Escape);
    EXPECT_EQ(backed, 1);

    setCancelAction(back, false);
    int closed = 0;
    setEscapeHandler(&window, [&] { ++closed; });
    pressKey(field, Qt::Key_Escape);
    EXPECT_EQ(backed, 1);
    EXPECT_EQ(closed, 1);
}

// ---- finders, icons, panels ----------------------------------------------------

TEST_F(UiTest, FindersFollowNamePaths) {
    QWidget root;
    root.setObjectName("root");
    auto* general = new Section("General", &root);
    general->setObjectName("general");
    auto* row = new ToggleRow("Launch at login");
    row->setObjectName("launchAtLogin");
    general->addRow(row);
    auto* other = new ToggleRow("Hide icon");
    other->setObjectName("hideIcon");
    general->addRow(other);

    EXPECT_EQ(findNamed<Switch>(&root, "general/launchAtLogin/toggle"), row->toggle());
    EXPECT_EQ(findNamed<Switch>(&root, "hideIcon/toggle"), other->toggle());
    EXPECT_EQ(findNamed<QLabel>(&root, "general/header")->text(), "General");
    EXPECT_EQ(findNamed(&root, "general/nothing"), nullptr);
    EXPECT_EQ(findNamed<QLabel>(&root, "launchAtLogin/toggle"), nullptr) << "wrong type";
    EXPECT_EQ(findAllNamed(&root, "toggle").size(), 2u);
}

QColor centre(const QImage& image) { return image.pixelColor(image.width() / 2, image.height() / 2); }

TEST_F(UiTest, IconRegistryPrefersFilesThenPaintersThenPlaceholders) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.path() / "images");
    QImage red(8, 4, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString((dir.path() / "images/quon-reading.png").string())));

    IconRegistry icons(Environment({{"PARLOWEN_RESOURCE_DIR", dir.path().string()}}));
    icons.registerPainter("quon-reading", [](QPainter& p, const QRectF& r) { p.fillRect(r, Qt::blue); });
    icons.registerPainter("quon-dozing", [](QPainter& p, const QRectF& r) { p.fillRect(r, Qt::blue); });

    EXPECT_EQ(icons.sourceOf("quon-reading"), IconRegistry::Source::file);
    EXPECT_EQ(icons.sourceOf("quon-dozing"), IconRegistry::Source::painter);
    EXPECT_EQ(icons.sourceOf("trash"), IconRegistry::Source::placeholder);

    const QImage file = icons.image("quon-reading", {40, 40});
    EXPECT_EQ(file.size(), QSize(40, 40));
    EXPECT_EQ(centre(file), QColor(Qt::red));
    EXPECT_EQ(file.pixelColor(20, 2).alpha(), 0) << "a wide picture is fitted whole, centred, with clear bands";
    EXPECT_EQ(centre(icons.image("quon-dozing", {10, 10})), QColor(Qt::blue));
    const QImage placeholder = icons.image("trash", {32, 32}, 2);
    EXPECT_EQ(placeholder.size(), QSize(64, 64));
    EXPECT_GT(placeholder.pixelColor(5, 32).alpha(), 0) << "placeholders are drawn, not empty";
    const QImage tint = icons.templatePixmap("trash", {32, 32}, QColor(0x5A, 0x7B, 0x5C)).toImage();
    int opaque = 0;
    for (int x = 0; x < 32; ++x) {
        if (tint.pixelColor(x, 16).alpha() != 255) continue;
        ++opaque;
        EXPECT_EQ(tint.pixelColor(x, 16).rgb(), QColor(0x5A, 0x7B, 0x5C).rgb()) << x;
    }
    EXPECT_GT(opaque, 0) << "a tinted symbol keeps its shape";
    EXPECT_TRUE(icons.image("x", {0, 0}).isNull());
}

// Every symbol name the code uses, with where it comes from.
TEST_F(UiTest, EverySymbolTheViewsNameResolvesToTheIconThemeOrAPainter) {
    struct Row {
        const char* name;
        IconRegistry::Source source;
    };
    using S = IconRegistry::Source;
    const std::vector<Row> symbols{
        // weekly report and hint card
        {"waveform", S::painter}, {"sunrise", S::theme}, {"sun.max", S::theme}, {"sunset", S::theme},
        {"moon.stars", S::theme}, {"hand.point.up.left.fill", S::painter},
        // quick-add panel
        {"checkmark.circle.fill", S::theme},
        // Listen Later failure explanations
        {"wifi.slash", S::theme}, {"hand.raised", S::theme}, {"questionmark.circle", S::theme},
        {"doc.plaintext", S::theme}, {"exclamationmark.bubble", S::painter}, {"exclamationmark.triangle", S::theme},
        // Notepad tones
        {"envelope", S::theme}, {"bubble.left", S::painter}, {"briefcase", S::painter}, {"text.alignleft", S::theme},
        {"number", S::painter}, {"chevron.left.forwardslash.chevron.right", S::painter}, {"list.bullet", S::theme},
        {"arrow.up.left.and.arrow.down.right", S::theme}, {"checklist", S::theme},
    };
    IconRegistry icons;
    for (const auto& row : symbols) {
        EXPECT_EQ(icons.sourceOf(row.name), row.source) << row.name;
        // Drawn, not an empty square: a good part of the picture is covered.
        const QImage image = icons.image(row.name, {32, 32});
        int covered = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) covered += image.pixelColor(x, y).alpha() > 128;
        EXPECT_GT(covered, 40) << row.name;
    }
    EXPECT_EQ(icons.sourceOf("no.such.symbol"), S::placeholder);
    EXPECT_EQ(QIcon::themeName(), QString(IconRegistry::kIconTheme)) << "the theme is set, not inherited";
}

TEST_F(UiTest, ATintedThemeSymbolTakesItsColourOnLightAndDark) {
    IconRegistry icons;
    for (const QColor tint : {QColor(0x5A, 0x7B, 0x5C), QColor(0xF5, 0xEB, 0xDC)}) {
        const QImage image = icons.templatePixmap("sunset", {32, 32}, tint).toImage();
        int opaque = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 250) continue;
                ++opaque;
                EXPECT_EQ(c.rgb(), tint.rgb()) << x << "," << y;
            }
        EXPECT_GT(opaque, 20) << "the theme's symbol is drawn in the tint, not its own grey";
    }
}

TEST(ImageEffects, BlurSpreadsAShapeAndTintKeepsOnlyItsOutline) {
    QImage square(60, 60, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    QPainter(&square).fillRect(20, 20, 20, 20, Qt::black);
    const QImage soft = blurred(square, 12);
    EXPECT_EQ(soft.size(), square.size());
    EXPECT_GT(soft.pixelColor(15, 30).alpha(), 0) << "spreads past the edge";
    EXPECT_LT(soft.pixelColor(21, 30).alpha(), 255) << "softens the edge";
    EXPECT_GT(soft.pixelColor(30, 30).alpha(), 128);
    EXPECT_EQ(soft.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(blurred(square, 0).pixelColor(19, 30).alpha(), 0) << "no radius, no blur";

    const QImage red = tinted(square, Qt::red);
    EXPECT_EQ(red.pixelColor(30, 30), QColor(Qt::red));
    EXPECT_EQ(red.pixelColor(5, 5).alpha(), 0);
}

TEST_F(UiTest, FloatingPanelShowsWithoutTakingFocus) {
    QWidget app;
    auto* field = new QLineEdit(&app);
    app.show();
    app.activateWindow();
    field->setFocus();

    FloatingPanel panel;
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(panel.isOnScreen());
    panel.setContentSize({360, 64});
    panel.orderFrontRegardless();
    QApplication::processEvents();
    EXPECT_TRUE(panel.isOnScreen());
    // Whether the window system leaves focus alone needs a real display and a
    // window manager (the offscreen platform activates every window it shows):
    // see the toast's test under Xvfb.
    panel.orderOut();
    EXPECT_FALSE(panel.isOnScreen());
}

// ---- readable colours ------------------------------------------------------------

TEST(Contrast, RatiosFollowWcagAndReadableTextKeepsItsHue) {
    EXPECT_NEAR(contrastRatio(Color::black(), Color::white()), 21, 1e-9);
    EXPECT_NEAR(contrastRatio(Color::white(), Color::white()), 1, 1e-9);
    EXPECT_NEAR(contrastRatio(Color::white(), Color::rgb8(0xE8, 0xA0, 0x4C)), 2.2, 0.01) << "white on brand amber";
    EXPECT_NEAR(contrastRatio(Color::rgb8(0x3D, 0x2E, 0x22), Color::rgb8(0xE8, 0xA0, 0x4C)), 5.93, 0.01);
    EXPECT_NEAR(contrastRatio(Color::black().opacity(0.5), Color::white()), contrastRatio(Color::rgb8(128, 128, 128), Color::white()),
                0.05) << "translucent text is composited first";

    struct Case {
        Color text;
        std::vector<Color> backgrounds;
        double minimum;
    };
    const Color cream = Color::rgb8(0xFA, 0xF3, 0xE7), linen = Color::rgb8(0xF5, 0xEB, 0xDC);
    const Color dusk = Color::rgb8(0x1F, 0x1B, 0x2E), duskDim = Color::rgb8(0x2A, 0x25, 0x41);
    for (const auto& c : {Case{Color::rgb8(0xE8, 0xA0, 0x4C), {cream, linen}, 4.5},   // amber text on cream
                          Case{Color::rgb8(0x5A, 0x7B, 0x5C), {dusk, duskDim}, 4.5},  // moss on dusk: lighter
                          Case{Color::rgb8(0x3D, 0x2E, 0x22, 0.55), {cream}, 4.5},    // faint ink
                          Case{Color::rgb8(0x34, 0xC7, 0x59), {cream}, 3.0}}) {       // a green symbol
        const Color readable = readableOn(c.text, c.backgrounds, c.minimum);
        for (const auto& b : c.backgrounds) EXPECT_GE(contrastRatio(readable, b), c.minimum);
        const Color start = composite(c.text, c.backgrounds.front());
        EXPECT_NEAR(toHsl(readable).hue, toHsl(start).hue, 1.5) << "keeps its hue";
        double weakest = 21;
        for (const auto& b : c.backgrounds) weakest = std::min(weakest, contrastRatio(readable, b));
        EXPECT_LT(weakest, c.minimum + 0.3) << "moved only as far as needed";
    }
    const Color ink = Color::rgb8(0x3D, 0x2E, 0x22);
    EXPECT_EQ(readableOn(ink, {cream}), ink) << "readable text stays as it is";
}

TEST(Contrast, DerivedSystemColoursReadOnTheirSurfaces) {
    for (const Palette& p : {kLight, kDark}) {
        const SystemColors s = systemColors(p);
        for (const Color& surface : surfaces(p)) {
            for (const Color& text : {s.green, s.orange, s.red, s.secondary, s.tertiary, s.accentText})
                EXPECT_GE(contrastRatio(text, surface), 4.5) << p.isDark;
            EXPECT_GE(contrastRatio(s.focusRing, surface), 3.0);
        }
    }
}

TEST_F(UiTest, TheContrastCheckCatchesDarkOnDarkTextAndHonoursExemptions) {
    ThemedBackground window;
    ThemeScope::apply(&window, kDark);
    window.resize(320, 120);
    auto* box = new QVBoxLayout(&window);
    auto* fine = new QLabel("Readable");
    fine->setObjectName("fine");
    auto* planted = new QLabel("Dark on dark");
    planted->setObjectName("planted");
    QPalette ink = planted->palette();
    ink.setColor(QPalette::WindowText, QColor(0x3D, 0x2E, 0x22));
    planted->setPalette(ink);
    box->addWidget(fine);
    box->addWidget(planted);
    const QImage shot = testing::saveScreenshot(&window, kShots / "contrast-planted.png");
    const auto failures = testing::contrastFailures(&window, shot);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].widget, "planted");
    EXPECT_EQ(failures[0].text, "Dark on dark");
    EXPECT_LT(failures[0].ratio, 1.5);
    EXPECT_NONFATAL_FAILURE(testing::expectScreenshot(&window, kShots / "contrast-planted.png", {"fine"}),
                            "\"Dark on dark\" (planted)");

    planted->setEnabled(false);
    EXPECT_TRUE(testing::contrastFailures(&window, window.grab().toImage()).empty()) << "disabled text is not checked";
    planted->setEnabled(true);
    exemptFromContrastCheck(planted, "a logotype");
    EXPECT_EQ(contrastExemption(planted), "a logotype");
    EXPECT_TRUE(testing::contrastFailures(&window, window.grab().toImage()).empty());
}

// ---- screenshots, one per widget family ------------------------------------------

TEST_F(UiTest, ScreenshotOfSurfacesAndButtons) {
    for (const auto& [name, palette] : {std::pair{"surfaces-light", kLight}, std::pair{"surfaces-dark", kDark}}) {
        ThemedBackground window;
        ThemeScope::apply(&window, palette);
        window.resize(420, 260);
        auto* box = new QVBoxLayout(&window);
        auto* card = new Card;
        card->setObjectName("card");
        card->setBorder(palette.accent.opacity(0.35));
        card->setCornerRadius(14);
        auto* cardText = new QLabel("A card with a border drawn inside its edge");
        cardText->setObjectName("cardText");
        card->setContent(cardText, QMargins(14, 12, 14, 12));
        auto* capsule = new Capsule("12 day streak");
        auto* divider = new Divider;
        divider->setObjectName("line");
        auto* row = new QHBoxLayout;
        auto* quiet = new PushButton("Back", ButtonStyle::bordered, ControlSize::large);
        quiet->setObjectName("back");
        auto* loud = new PushButton("Continue", ButtonStyle::borderedProminent, ControlSize::large);
        loud->setObjectName("continue");
        auto* link = new PushButton("Learn more", ButtonStyle::plain);
        link->setObjectName("learnMore");
        row->addWidget(quiet);
        row->addWidget(link);
        row->addStretch();
        row->addWidget(loud);
        box->addWidget(card);
        box->addWidget(capsule, 0, Qt::AlignLeft);
        box->addWidget(divider);
        box->addStretch();
        box->addLayout(row);
        testing::expectScreenshot(&window, kShots / (std::string(name) + ".png"),
                                  {"card", "cardText", "capsule", "capsule/text", "line", "back", "continue", "learnMore"});
    }
}

TEST_F(UiTest, ScreenshotOfFormControls) {
    for (const auto& [name, palette] : {std::pair{"forms-light", kLight}, std::pair{"forms-dark", kDark}}) {
        ThemedBackground window;
        ThemeScope::apply(&window, palette);
        window.resize(480, 420);
        auto* box = new QVBoxLayout(&window);
        auto* section = new Section("Dictation");
        section->setObjectName("dictation");
        auto* toggle = new ToggleRow("Live feedback", "Show the transcript while you speak.");
        toggle->setObjectName("liveFeedback");
        toggle->toggle()->setChecked(true);
        section->addRow(toggle);
        auto* picker = new MenuPicker;
        picker->setItems({{"System default"}, {"", MenuPicker::Item::Kind::separator}, {"Desk Mic"}});
        picker->setCurrentEntry(0);
        section->addRow(new LabeledRow("Microphone", picker));
        auto* slider = new FloatSlider(0, 1);
        slider->setValue(0.5);
        section->addRow(new LabeledRow("Rate", slider));
        section->setFooter("Changes apply on the **next** session, not `mid-session`.");
        box->addWidget(section);
        auto* note = new MarkdownLabel("A *Markdown* label with a [link](https://example.com).");
        note->setObjectName("note");
        box->addWidget(note);
        box->addStretch();
        testing::expectScreenshot(&window, kShots / (std::string(name) + ".png"),
                                  {"dictation/header", "dictation/rows", "liveFeedback/title", "liveFeedback/subtitle",
                                   "liveFeedback/toggle", "menuPicker", "floatSlider", "dictation/footer", "note"});
        EXPECT_TRUE(findNamed<MarkdownLabel>(&window, "dictation/footer")->text().contains("<b>next</b>"));
        EXPECT_TRUE(note->text().contains(toQColor(systemColors(palette).accentText).name()))
            << "links in the theme's readable accent, not the stock blue";
    }
}

}  // namespace
}  // namespace platform::ui
