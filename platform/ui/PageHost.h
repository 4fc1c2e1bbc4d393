#pragma once

#include <functional>
#include <map>
#include <string>

#include <QLabel>
#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace platform::ui {

// Shows one page at a time and builds it afresh each time it is shown, so a
// page's transient state (typed text, open disclosures, flags, timers)
// starts over on every visit. The old page is destroyed as soon as the new
// one is built; with animations on (Animations.h) a picture of it fades out
// over the new one.
class PageHost : public QWidget {
    Q_OBJECT
public:
    using Builder = std::function<QWidget*()>;

    explicit PageHost(QWidget* parent = nullptr);

    void addPage(const std::string& key, Builder builder);
    bool hasPage(const std::string& key) const { return builders_.count(key) != 0; }

    // Builds and shows page `key` unless it is already the current page.
    // Returns false for a key without a page.
    bool showPage(const std::string& key);
    // Builds the current page afresh.
    void rebuild();

    QWidget* currentPage() const { return page_; }
    const std::string& currentKey() const { return key_; }

    void setCrossFadeDuration(int milliseconds) { fadeMs_ = milliseconds; }
    // True while the picture of the previous page is fading out.
    bool isFading() const { return fade_ != nullptr; }

signals:
    void pageShown(const QString& key);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void build(const std::string& key);

    std::map<std::string, Builder> builders_;
    std::string key_;
    QPointer<QWidget> page_;
    QVBoxLayout* layout_;
    QPointer<QLabel> fade_;
    int fadeMs_ = 250;
};

}  // namespace platform::ui
