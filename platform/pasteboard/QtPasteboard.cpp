#include "platform/pasteboard/QtPasteboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>

#include "platform/log/Log.h"
#include "platform/x11/X11Selection.h"

namespace platform {

namespace {

// Selection-protocol targets an X11 owner lists beside its data formats.
constexpr std::array<std::string_view, 8> kProtocolTargets = {
    "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE", "INCR", "INSERT_SELECTION", "INSERT_PROPERTY"};

const Logger& pasteboardLog() {
    static const Logger log("com.kelvatrum.Parlowen", "pasteboard");
    return log;
}

// How long another program may take to list its formats before its
// contents count as unreadable (Qt itself would wait seconds per read).
constexpr std::chrono::milliseconds kOwnerAnswerBound{500};
// A change carrying the same text this soon after the one before is a
// clipboard manager taking the contents over, not a new writer.
constexpr std::chrono::milliseconds kRetakeWindow{1000};

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QByteArray toQBytes(const Bytes& data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}

Bytes fromQBytes(const QByteArray& data) {
    return Bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                 reinterpret_cast<const std::uint8_t*>(data.constData()) + data.size());
}

// One pasteboard type and the clipboard format it was found under.
struct TypedFormat {
    std::string type;
    QString format;
};

}  // namespace

std::string QtPasteboard::formatForType(std::string_view type) {
    if (type == pasteboard_type::plainText) return "text/plain";
    if (type == pasteboard_type::rtf) return "text/rtf";
    if (type == pasteboard_type::html) return "text/html";
    return std::string(type);
}

std::string QtPasteboard::typeForFormat(std::string_view format) {
    if (format == "text/plain" || format == "text/plain;charset=utf-8") return std::string(pasteboard_type::plainText);
    if (format == "text/rtf") return std::string(pasteboard_type::rtf);
    if (format == "text/html") return std::string(pasteboard_type::html);
    return std::string(format);
}

struct QtPasteboard::Impl {
    using Clock = std::chrono::steady_clock;

    QClipboard* clipboard;
    std::string x11Display;  // where other programs' contents are probed; empty: not on X11
    QMetaObject::Connection connection;
    std::int64_t changeCount = 0;
    bool owned = false;    // we cleared, and no other program took the clipboard since
    bool writing = false;  // our own setMimeData is running (it signals synchronously)
    // The current contents' plain text (as a hash: nothing of it is kept)
    // and when they arrived, to tell a clipboard manager's re-take.
    std::optional<std::size_t> textHash;
    Clock::time_point changedAt{};
    // The X window that held them (kOurs for our own): a re-take comes from
    // another owner. Two quick writers whose notices are handled only after
    // the second took over both show the second's owner and text, and so
    // are not mistaken for one.
    static constexpr std::uint64_t kOurs = ~std::uint64_t{0};
    std::uint64_t ownerWindow = 0;
    // Whether the current foreign owner answered the probe (none: not asked yet).
    std::optional<bool> ownerAnswered;

    Impl(QClipboard& c, std::string display) : clipboard(&c), x11Display(std::move(display)) {
        connection = QObject::connect(clipboard, &QClipboard::dataChanged, [this] {
            if (writing) return;
            ownerAnswered.reset();
            const auto now = Clock::now();
            const auto hash = foreignTextHash();
            const std::uint64_t owner = x11Display.empty() ? 0 : selectionOwnerWindow(x11Display, "CLIPBOARD");
            const bool retake = !x11Display.empty() && hash && textHash && *hash == *textHash &&
                                owner != 0 && owner != ownerWindow && now - changedAt < kRetakeWindow;
            textHash = hash;
            changedAt = now;
            ownerWindow = owner;
            owned = false;
            if (!retake) ++changeCount;
        });
    }
    ~Impl() { QObject::disconnect(connection); }

    // Whether the contents can be read without waiting on a hung program.
    bool readable() {
        if (x11Display.empty() || clipboard->ownsClipboard()) return true;
        if (!ownerAnswered) {
            auto probe = readSelection(x11Display, "CLIPBOARD", "TARGETS", kOwnerAnswerBound);
            ownerAnswered = probe || probe.error().caseName != "timedOut";
            if (!*ownerAnswered)
                pasteboardLog().error("the clipboard's owner did not answer within {} ms; its contents are skipped",
                                      kOwnerAnswerBound.count());
        }
        return *ownerAnswered;
    }

    const QMimeData* current() const {
        if (!const_cast<Impl*>(this)->readable()) return nullptr;
        return clipboard->mimeData(QClipboard::Clipboard);
    }

    // The new contents' text as a hash, read with a bound on X11.
    std::optional<std::size_t> foreignTextHash() {
        if (!x11Display.empty() && !clipboard->ownsClipboard()) {
            auto text = readSelection(x11Display, "CLIPBOARD", "UTF8_STRING", kOwnerAnswerBound);
            if (!text) {
                if (text.error().caseName == "timedOut") ownerAnswered = false;
                return std::nullopt;
            }
            ownerAnswered = true;
            return std::hash<std::string>{}(*text);
        }
        const QMimeData* md = current();
        if (!md || !md->hasText()) return std::nullopt;
        return std::hash<std::string>{}(md->text().toStdString());
    }

    // The types the clipboard offers, each with the format to read it from.
    std::vector<TypedFormat> typedFormats() const {
        std::vector<TypedFormat> out;
        const QMimeData* md = current();
        if (!md) return out;
        for (const QString& format : md->formats()) {
            const std::string f = format.toStdString();
            if (std::find(kProtocolTargets.begin(), kProtocolTargets.end(), f) != kProtocolTargets.end()) continue;
            std::string type = typeForFormat(f);
            bool seen = std::any_of(out.begin(), out.end(), [&](const TypedFormat& t) { return t.type == type; });
            if (!seen) out.push_back({std::move(type), format});
        }
        return out;
    }

    // Hands `md` to the clipboard without counting the change it signals.
    void install(QMimeData* md) {
        textHash = md->hasText() ? std::optional(std::hash<std::string>{}(md->text().toStdString())) : std::nullopt;
        changedAt = Clock::now();
        ownerWindow = kOurs;
        writing = true;
        clipboard->setMimeData(md, QClipboard::Clipboard);
        writing = false;
    }

    std::int64_t clear() {
        // An empty set of formats of our own rather than QClipboard::clear():
        // giving the X11 selection up to no owner comes back later as a
        // change notice that looks like another program's.
        install(new QMimeData);
        owned = true;
        return ++changeCount;
    }

    // A copy of what we have written since our clear, ready for more.
    QMimeData* ownCopy() {
        if (!owned) clear();
        auto* md = new QMimeData;
        if (const QMimeData* now = current())
            for (const QString& format : now->formats()) md->setData(format, now->data(format));
        return md;
    }
};

QtPasteboard::QtPasteboard() : QtPasteboard(*QGuiApplication::clipboard()) {}
QtPasteboard::QtPasteboard(QClipboard& clipboard) : impl_(std::make_unique<Impl>(clipboard, std::string())) {}
QtPasteboard::QtPasteboard(const Environment& env)
    : impl_(std::make_unique<Impl>(*QGuiApplication::clipboard(),
                                   QGuiApplication::platformName() == "xcb" ? env.value("DISPLAY") : std::string())) {}
QtPasteboard::~QtPasteboard() = default;

std::int64_t QtPasteboard::changeCount() const { return impl_->changeCount; }

std::size_t QtPasteboard::itemCount() const { return impl_->typedFormats().empty() ? 0 : 1; }

std::vector<std::string> QtPasteboard::types(std::size_t item) const {
    std::vector<std::string> out;
    if (item != 0) return out;
    for (auto& t : impl_->typedFormats()) out.push_back(std::move(t.type));
    return out;
}

std::optional<Bytes> QtPasteboard::data(std::size_t item, std::string_view type) const {
    if (item != 0) return std::nullopt;
    for (const auto& t : impl_->typedFormats()) {
        if (t.type != type) continue;
        const QMimeData* md = impl_->current();
        if (!md) return std::nullopt;
        return fromQBytes(md->data(t.format));
    }
    return std::nullopt;
}

std::optional<std::string> QtPasteboard::string(std::string_view type) const {
    auto d = data(0, type);
    if (!d) return std::nullopt;
    return std::string(d->begin(), d->end());
}

std::int64_t QtPasteboard::clearContents() { return impl_->clear(); }

void QtPasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
    if (std::all_of(items.begin(), items.end(), [](const PasteboardItem& i) { return i.entries.empty(); })) return;
    QMimeData* md = impl_->ownCopy();
    for (const auto& item : items)
        for (const auto& entry : item.entries) {
            const QString format = qs(formatForType(entry.type));
            if (!md->hasFormat(format)) md->setData(format, toQBytes(entry.data));
        }
    impl_->install(md);
}

void QtPasteboard::setData(const Bytes& data, std::string_view type) {
    QMimeData* md = impl_->ownCopy();
    md->setData(qs(formatForType(type)), toQBytes(data));
    impl_->install(md);
}

}  // namespace platform
