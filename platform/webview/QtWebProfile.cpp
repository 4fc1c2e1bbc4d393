#include "platform/webview/QtWebProfile.h"

#include <sqlite3.h>
#include <unistd.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QNetworkCookie>
#include <QPointer>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <chrono>
#include <map>
#include <tuple>

#include "platform/log/Log.h"
#include "platform/webview/WebScripts.h"

namespace platform {

namespace {

const Logger& log() {
    static const Logger logger("com.kelvatrum.Parlowen", "webview");
    return logger;
}

// HTML strings too large for the engine's data: URLs are served from here.
constexpr const char* kHtmlScheme = "parlowen-html";

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string str(const QString& s) { return s.toStdString(); }
std::string str(const QByteArray& s) { return s.toStdString(); }

// ---- Cookies

using CookieKey = std::tuple<std::string, std::string, std::string>;  // name, domain, path

CookieKey keyOf(const WebCookie& c) { return {c.name, c.domain, c.path}; }

WebCookie toWebCookie(const QNetworkCookie& c) {
    return WebCookie{str(c.name()), str(c.value()), str(c.domain()), c.path().isEmpty() ? "/" : str(c.path())};
}

// The cookies the engine keeps in its profile folder. The engine's own
// "load all cookies" request never answers in this version, so the mirror
// starts from the engine's cookie file, read before the engine opens it,
// and follows the engine's change notices from there.
std::vector<WebCookie> readCookieFile(const std::filesystem::path& file) {
    std::vector<WebCookie> cookies;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return cookies;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        log().error("cookie file unreadable: {}", db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return cookies;
    }
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* query = nullptr;
    const char* sql =
        "SELECT name, value, host_key, path, has_expires, expires_utc, length(encrypted_value) FROM cookies";
    if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) != SQLITE_OK) {
        log().error("cookie file unreadable: {}", sqlite3_errmsg(db));
        sqlite3_close(db);
        return cookies;
    }
    // The engine counts microseconds since 1601-01-01.
    const auto unixMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::int64_t now = unixMicros + 11644473600LL * 1000000LL;
    auto text = [&](int column) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(query, column));
        return p ? std::string(p) : std::string();
    };
    int rc;
    while ((rc = sqlite3_step(query)) == SQLITE_ROW) {
        if (sqlite3_column_int(query, 4) != 0 && sqlite3_column_int64(query, 5) < now) continue;  // expired
        WebCookie cookie{text(0), text(1), text(2), text(3)};
        if (cookie.value.empty() && sqlite3_column_int(query, 6) > 0) continue;  // encrypted: not ours to read
        if (cookie.path.empty()) cookie.path.push_back('/');
        cookies.push_back(std::move(cookie));
    }
    if (rc != SQLITE_DONE) log().error("cookie file read stopped: {}", sqlite3_errmsg(db));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return cookies;
}

// ---- HTML strings through the scheme handler

class HtmlSchemeHandler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    QUrl put(QByteArray html) {
        const QUrl url(QStringLiteral("%1://document/%2").arg(kHtmlScheme).arg(next_++));
        documents_.insert_or_assign(url.toString(), std::move(html));
        return url;
    }
    void remove(const QUrl& url) { documents_.erase(url.toString()); }

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        auto it = documents_.find(job->requestUrl().adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery).toString());
        if (it == documents_.end()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(it->second);
        buffer->open(QIODevice::ReadOnly);
        job->reply("text/html;charset=utf-8", buffer);
    }

private:
    std::uint64_t next_ = 1;
    std::map<QString, QByteArray> documents_;
};

// ---- Navigations

// Turns the engine's loading notices for one page into navigation events.
// The engine reports a load that starts while another is still running as
// part of the running one, so a load asked for here ends the running
// navigation at once and becomes the current one itself.
class NavigationTracker final : public QObject {
public:
    NavigationTracker(QWebEnginePage* page, WebPageId id) : QObject(page), page_(page), pageId_(id) {
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, [this] { timedOut(); });
        connect(page, &QWebEnginePage::loadingChanged, this,
                [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
        connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl&) { urlChanged(); });
    }

    void setObserver(WebNavigationObserver observer) { observer_ = std::move(observer); }

    // A navigation this layer starts now (the caller starts the engine's load next).
    WebNavigationId begin(Duration timeout) {
        endCurrent("net::ERR_ABORTED");
        const auto id = nextId();
        current_ = Navigation{id};
        if (timeout > Duration::zero()) timer_.start(std::chrono::ceil<std::chrono::milliseconds>(timeout));
        return id;
    }

private:
    struct Navigation {
        WebNavigationId id = 0;
        bool started = false;  // the engine's start notice came
        bool committed = false;
    };

    static WebNavigationId nextId() {
        static WebNavigationId next = 1;
        return next++;
    }

    void emitEvent(WebNavigationEventKind kind, WebNavigationId id, std::string description = {}) {
        if (!observer_) return;
        // A copy: the observer may replace itself or destroy the page.
        auto observer = observer_;
        observer(WebNavigationEvent{kind, pageId_, id, std::move(description)});
    }

    // Ends the current navigation with a failure, if one is running.
    void endCurrent(std::string description, bool errorPage = false) {
        if (!current_) return;
        timer_.stop();
        const auto ended = *std::exchange(current_, std::nullopt);
        emitEvent(ended.committed && !errorPage ? WebNavigationEventKind::failed
                                                : WebNavigationEventKind::provisionallyFailed,
                  ended.id, std::move(description));
    }

    void loadingChanged(const QWebEngineLoadingInfo& info) {
        switch (info.status()) {
            case QWebEngineLoadingInfo::LoadStartedStatus:
                if (current_ && !current_->started) {
                    current_->started = true;
                } else {
                    // One the engine started itself: a link, a script, the history.
                    endCurrent("net::ERR_ABORTED");
                    current_ = Navigation{nextId(), true, false};
                }
                return;
            case QWebEngineLoadingInfo::LoadSucceededStatus:
                finish();
                return;
            case QWebEngineLoadingInfo::LoadFailedStatus:
                // An HTTP error status still delivers a page, which finishes.
                if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
                    finish();
                    return;
                }
                endCurrent(info.errorString().isEmpty() ? "net::ERR_FAILED" : str(info.errorString()),
                           info.isErrorPage());
                return;
            case QWebEngineLoadingInfo::LoadStoppedStatus:
                endCurrent(info.errorString().isEmpty() ? "net::ERR_ABORTED" : str(info.errorString()));
                return;
        }
    }

    void urlChanged() {
        if (!current_ || current_->committed) return;  // same-document changes and redirects after the commit
        current_->committed = true;
        timer_.stop();
        emitEvent(WebNavigationEventKind::committed, current_->id);
    }

    void finish() {
        if (!current_) return;
        if (!current_->committed) urlChanged();
        if (!current_) return;  // the observer started another navigation
        timer_.stop();
        const auto id = std::exchange(current_, std::nullopt)->id;
        emitEvent(WebNavigationEventKind::finished, id);
    }

    void timedOut() {
        if (!current_) return;
        log().info("navigation timed out before the document arrived");
        endCurrent(kWebRequestTimedOut);
        // The engine's own notice of the stop finds no navigation running.
        page_->triggerAction(QWebEnginePage::Stop);
    }

    QWebEnginePage* page_;
    WebPageId pageId_;
    WebNavigationObserver observer_;
    std::optional<Navigation> current_;
    QTimer timer_;
};

QWebEngineHttpRequest toQtRequest(const WebRequest& request) {
    QWebEngineHttpRequest q(QUrl(qs(request.url)));
    for (const auto& [name, value] : request.headers)
        q.setHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    return q;
}

WebPageId nextPageId() {
    static WebPageId next = 1;
    return next++;
}

}  // namespace

struct QtWebProfile::Impl {
    std::unique_ptr<QWebEngineProfile> profile;
    HtmlSchemeHandler* html = nullptr;  // owned by the profile
    std::map<CookieKey, WebCookie> cookies;
};

namespace {

class QtWebPage final : public WebPage {
public:
    QtWebPage(QtWebProfile::Impl& profile)
        : profile_(profile), page_(new QWebEnginePage(profile.profile.get())), id_(nextPageId()) {
        tracker_ = new NavigationTracker(page_.get(), id_);
    }
    ~QtWebPage() override {
        dropDocument();
        pending_.cancelAll();
    }

    WebPageId id() const override { return id_; }
    void setNavigationObserver(WebNavigationObserver observer) override { tracker_->setObserver(std::move(observer)); }

    WebNavigationId load(WebRequest request) override {
        const auto id = tracker_->begin(request.timeout);
        dropDocument();
        page_->load(toQtRequest(request));
        return id;
    }

    WebNavigationId loadHTML(std::string html, std::string baseURL) override {
        const auto id = tracker_->begin({});
        dropDocument();
        if (webscripts::dataUrlLength(html) <= webscripts::kDataUrlLimit) {
            page_->setHtml(qs(html), QUrl(qs(baseURL)));
        } else {
            document_ = profile_.html->put(QByteArray::fromStdString(webscripts::withBase(html, baseURL)));
            documentBase_ = baseURL;
            page_->load(*document_);
        }
        return id;
    }

    Task<Result<WebScriptValue>> evaluateJavaScript(std::string script) override {
        auto [answerId, slot] = pending_.open();
        // The application's own script world: the page's scripts and its
        // content security policy stay out of the way.
        page_->runJavaScript(qs(webscripts::wrap(script)), QWebEngineScript::ApplicationWorld,
                             [this, alive = std::weak_ptr<bool>(alive_), answerId = answerId](const QVariant& v) {
                                 if (!alive.lock()) return;
                                 std::optional<std::string> answer;
                                 if (v.typeId() == QMetaType::QString) answer = str(v.toString());
                                 pending_.resolve(answerId, webscripts::readAnswer(answer));
                             });
        return webscripts::awaitAnswer(slot);
    }

    std::optional<std::string> url() const override {
        const QUrl u = page_->url();
        if (u.isEmpty()) return std::nullopt;
        if (document_ && u.scheme() == kHtmlScheme) return documentBase_;
        return str(u.toString(QUrl::FullyEncoded));
    }

private:
    void dropDocument() {
        if (document_) profile_.html->remove(*document_);
        document_.reset();
    }

    QtWebProfile::Impl& profile_;
    std::unique_ptr<QWebEnginePage> page_;
    WebPageId id_;
    NavigationTracker* tracker_;  // owned by the page
    webscripts::PendingAnswers pending_;
    std::optional<QUrl> document_;
    std::string documentBase_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class QtWebView final : public WebView, private QObject {
public:
    explicit QtWebView(QtWebProfile::Impl& profile) : view_(new QWebEngineView()), id_(nextPageId()) {
        auto* page = new QWebEnginePage(profile.profile.get(), view_);
        view_->setPage(page);
        tracker_ = new NavigationTracker(page, id_);
        watch(view_);
    }
    ~QtWebView() override { delete view_.data(); }

    WebPageId id() const override { return id_; }
    void setNavigationObserver(WebNavigationObserver observer) override {
        if (view_) tracker_->setObserver(std::move(observer));
    }
    WebNavigationId load(WebRequest request) override {
        if (!view_) return 0;
        const auto id = tracker_->begin(request.timeout);
        view_->page()->load(toQtRequest(request));
        return id;
    }
    std::optional<std::string> url() const override {
        if (!view_ || view_->url().isEmpty()) return std::nullopt;
        return str(view_->url().toString(QUrl::FullyEncoded));
    }
    bool canGoBack() const override { return view_ && view_->history()->canGoBack(); }
    bool canGoForward() const override { return view_ && view_->history()->canGoForward(); }
    void goBack() override {
        if (!canGoBack()) return;
        tracker_->begin({});
        view_->back();
    }
    void goForward() override {
        if (!canGoForward()) return;
        tracker_->begin({});
        view_->forward();
    }
    QWidget* widget() override { return view_; }

private:
    // The mouse's back and forward buttons and the keys for them, on the
    // view and on the engine's child widget that receives the input (before
    // the page sees them).
    void watch(QObject* object) { object->installEventFilter(this); }
    static int historyStep(const QKeyEvent& key) {
        const auto modifiers = key.modifiers() & ~Qt::KeypadModifier;
        if (key.matches(QKeySequence::Back) || (modifiers == Qt::AltModifier && key.key() == Qt::Key_Left)) return -1;
        if (key.matches(QKeySequence::Forward) || (modifiers == Qt::AltModifier && key.key() == Qt::Key_Right))
            return 1;
        return 0;
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ChildAdded) {
            if (auto* child = static_cast<QChildEvent*>(event)->child(); child && child->isWidgetType()) watch(child);
        } else if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
            if (const int step = historyStep(*static_cast<QKeyEvent*>(event))) {
                event->accept();
                if (event->type() == QEvent::KeyPress) step < 0 ? goBack() : goForward();
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonPress) {
            const auto button = static_cast<QMouseEvent*>(event)->button();
            if (button == Qt::BackButton) {
                goBack();
                return true;
            }
            if (button == Qt::ForwardButton) {
                goForward();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

    QPointer<QWebEngineView> view_;
    WebPageId id_;
    NavigationTracker* tracker_;  // owned by the view's page
};

}  // namespace

void prepareWebEngine() {
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static bool registered = false;
    if (!registered) {
        QWebEngineUrlScheme scheme(kHtmlScheme);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
        QWebEngineUrlScheme::registerScheme(scheme);
        registered = true;
    }
}

QtWebProfileLocation webProfileLocation(const XdgDirs& dirs) {
    return {dirs.dataHome() / "com.kelvatrum.Parlowen" / "WebEngine",
            dirs.cacheHome() / "com.kelvatrum.Parlowen" / "WebEngine"};
}

QtWebProfile::QtWebProfile(QtWebProfileLocation location) : impl_(std::make_unique<Impl>()) {
    std::error_code ec;
    std::filesystem::create_directories(location.storage, ec);
    for (auto& cookie : readCookieFile(location.storage / "Cookies"))
        impl_->cookies.insert_or_assign(keyOf(cookie), cookie);

    impl_->profile = std::make_unique<QWebEngineProfile>(QStringLiteral("Parlowen"));
    auto& profile = *impl_->profile;
    profile.setPersistentStoragePath(QString::fromStdString(location.storage.string()));
    profile.setCachePath(QString::fromStdString(location.cache.string()));
    profile.setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    profile.setHttpUserAgent(QString::fromLatin1(kBrowserUserAgent));
    impl_->html = new HtmlSchemeHandler(&profile);
    profile.installUrlSchemeHandler(kHtmlScheme, impl_->html);

    auto* store = profile.cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, store, [impl = impl_.get()](const QNetworkCookie& c) {
        auto cookie = toWebCookie(c);
        impl->cookies.insert_or_assign(keyOf(cookie), cookie);
    });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, store,
                     [impl = impl_.get()](const QNetworkCookie& c) { impl->cookies.erase(keyOf(toWebCookie(c))); });
}

QtWebProfile::~QtWebProfile() = default;

std::unique_ptr<WebPage> QtWebProfile::makePage() { return std::make_unique<QtWebPage>(*impl_); }

std::unique_ptr<WebView> QtWebProfile::makeView() { return std::make_unique<QtWebView>(*impl_); }

Task<std::vector<WebCookie>> QtWebProfile::allCookies() {
    std::vector<WebCookie> cookies;
    cookies.reserve(impl_->cookies.size());
    for (const auto& [key, cookie] : impl_->cookies) cookies.push_back(cookie);
    return webscripts::readyCookies(std::move(cookies));
}

}  // namespace platform
