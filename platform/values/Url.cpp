#include "platform/values/Url.h"

#include <memory>

#include <curl/curl.h>

namespace platform {
namespace {

struct CurlUrlDeleter {
    void operator()(CURLU* h) const { curl_url_cleanup(h); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

std::optional<std::string> getPart(CURLU* h, CURLUPart part, unsigned flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(h, part, &raw, flags) != CURLUE_OK || raw == nullptr) return std::nullopt;
    std::string value(raw);
    curl_free(raw);
    return value;
}

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) { return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra;
        char32_t cp;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; }
        else return false;
        if (i + extra >= s.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not text.
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// What every URL text must satisfy before anyone looks at its structure.
bool isAcceptableText(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c == 0x7F) return false;
        if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return false;
    }
    return isValidUtf8(text);
}

// The scheme of an absolute URL, lower-cased, or nothing for a relative reference.
std::optional<std::string> schemeOf(std::string_view text) {
    if (text.empty() || !isAlpha(text[0])) return std::nullopt;
    std::string scheme;
    for (char c : text) {
        if (c == ':') return scheme;
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
        scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return std::nullopt;
}

// Schemes that always name a host; without "//" they are malformed, not opaque.
bool needsAuthority(std::string_view scheme) {
    for (std::string_view s : {"http", "https", "ftp", "ftps", "ws", "wss", "file"})
        if (scheme == s) return true;
    return false;
}

bool isAllowed(unsigned char c, UrlCharacterSet set) {
    if (isAlpha(static_cast<char>(c)) || isDigit(static_cast<char>(c))) return true;
    std::string_view extra;
    switch (set) {
        case UrlCharacterSet::unreserved: extra = "-._~"; break;
        case UrlCharacterSet::path: extra = "!$&'()*+,-./:=@_~"; break;
        case UrlCharacterSet::query:
        case UrlCharacterSet::fragment: extra = "!$&'()*+,-./:;=?@_~"; break;
        case UrlCharacterSet::host: extra = "!$&'()*+,-.:;=[]_~"; break;
        case UrlCharacterSet::user:
        case UrlCharacterSet::password: extra = "!$&'()*+,-.;=_~"; break;
    }
    return c != 0 && extra.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string percentEncode(std::string_view text, UrlCharacterSet allowed) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isAllowed(c, allowed)) {
            out += ch;
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
        out += static_cast<char>(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2]));
        i += 2;
    }
    if (!isValidUtf8(out)) return std::nullopt;
    return out;
}

std::optional<Url> Url::parse(std::string_view text) {
    if (!isAcceptableText(text)) return std::nullopt;
    auto scheme = schemeOf(text);
    if (!scheme) return std::nullopt;
    const std::string_view rest = text.substr(scheme->size() + 1);
    if (rest.starts_with("//") || needsAuthority(*scheme)) return parseHierarchical(text);
    return parseOpaque(rest, std::move(*scheme));
}

std::optional<Url> Url::parseHierarchical(std::string_view text) {
    CurlUrl h(curl_url());
    if (!h) return std::nullopt;
    if (curl_url_set(h.get(), CURLUPART_URL, std::string(text).c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    Url url;
    auto full = getPart(h.get(), CURLUPART_URL);
    auto scheme = getPart(h.get(), CURLUPART_SCHEME);
    if (!full || !scheme) return std::nullopt;
    url.text_ = std::move(*full);
    url.scheme_ = std::move(*scheme);
    url.host_ = getPart(h.get(), CURLUPART_HOST);
    if (url.host_ && url.host_->size() >= 2 && url.host_->front() == '[' && url.host_->back() == ']')
        url.host_ = url.host_->substr(1, url.host_->size() - 2);
    if (auto port = getPart(h.get(), CURLUPART_PORT)) url.port_ = std::stoi(*port);
    url.path_ = getPart(h.get(), CURLUPART_PATH).value_or("");
    url.query_ = getPart(h.get(), CURLUPART_QUERY);
    url.fragment_ = getPart(h.get(), CURLUPART_FRAGMENT);
    url.user_ = getPart(h.get(), CURLUPART_USER, CURLU_URLDECODE);
    url.password_ = getPart(h.get(), CURLUPART_PASSWORD, CURLU_URLDECODE);
    return url;
}

std::optional<Url> Url::parseOpaque(std::string_view rest, std::string scheme) {
    Url url;
    url.opaque_ = true;
    url.text_ = scheme + ":" + std::string(rest);
    url.scheme_ = std::move(scheme);
    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        url.query_ = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    url.path_ = std::string(rest);
    return url;
}

Url Url::fromFilePath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    const std::string encoded = percentEncode(absolute.string(), UrlCharacterSet::path);
    if (auto url = parseHierarchical("file://" + encoded)) return *url;
    // Only reachable for paths curl refuses outright; keep the text rather than lose the path.
    Url url;
    url.scheme_ = "file";
    url.path_ = encoded;
    url.text_ = "file://" + encoded;
    return url;
}

std::string Url::path() const {
    std::string decoded = percentDecode(path_).value_or(path_);
    if (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
    return decoded;
}

std::string Url::lastPathComponent() const {
    const std::string p = path();
    if (p.empty() || p == "/") return p;
    return p.substr(p.rfind('/') + 1);
}

Url Url::appendingPathComponent(std::string_view component) const {
    if (component.empty()) return *this;
    std::string newPath = path_;
    if (newPath.empty() || newPath.back() != '/') newPath += '/';
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    newPath += percentEncode(component, UrlCharacterSet::path);

    if (opaque_) {
        std::string rest = newPath;
        if (query_) rest += "?" + *query_;
        if (fragment_) rest += "#" + *fragment_;
        return *parseOpaque(rest, scheme_);
    }
    CurlUrl h(curl_url());
    if (h && curl_url_set(h.get(), CURLUPART_URL, text_.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_set(h.get(), CURLUPART_PATH, newPath.c_str(), 0) == CURLUE_OK) {
        if (auto full = getPart(h.get(), CURLUPART_URL))
            if (auto url = parseHierarchical(*full)) return *url;
    }
    return *this;
}

std::optional<Url> Url::resolving(std::string_view reference) const {
    if (!isAcceptableText(reference)) return std::nullopt;
    if (schemeOf(reference)) return parse(reference);
    if (opaque_) return std::nullopt;
    const std::string withoutFragment = text_.substr(0, text_.find('#'));
    // curl drops the last path segment and the query for a fragment-only reference;
    // the reference keeps everything but the fragment.
    if (reference.empty()) return parseHierarchical(withoutFragment);
    if (reference.front() == '#') return parseHierarchical(withoutFragment + std::string(reference));
    CurlUrl h(curl_url());
    if (!h || curl_url_set(h.get(), CURLUPART_URL, text_.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
        curl_url_set(h.get(), CURLUPART_URL, std::string(reference).c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    auto full = getPart(h.get(), CURLUPART_URL);
    if (!full) return std::nullopt;
    return parseHierarchical(*full);
}

}  // namespace platform
