#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// An absolute URL. Hierarchical URLs ("https://host/path", "file:///tmp/x") are
// parsed and normalised by libcurl: the scheme is lower-cased, the host keeps its
// case, "." and ".." segments are resolved and an empty path becomes "/".
// URLs without an authority ("mailto:?subject=Hi", "data:...",
// "x-apple.systempreferences:...") are kept as written apart from the scheme's
// case. Text with blanks, control characters or a malformed "%" escape is rejected.
class Url {
public:
    // Absolute URLs only: a relative reference ("docs/a.html") gives nothing.
    static std::optional<Url> parse(std::string_view text);
    // A file URL for a local path; a relative path is taken relative to the current
    // folder. Characters that cannot stand in a path are percent-encoded.
    static Url fromFilePath(const std::filesystem::path& path);

    // The whole URL as text.
    const std::string& absoluteString() const { return text_; }
    // Lower case, without the ":".
    const std::string& scheme() const { return scheme_; }
    // As written (case kept); an IPv6 address comes without its brackets.
    const std::optional<std::string>& host() const { return host_; }
    // Only when the URL names a port.
    std::optional<int> port() const { return port_; }
    // The path with escapes decoded and a trailing "/" removed (except for "/" itself).
    std::string path() const;
    // The path exactly as it stands in the URL.
    const std::string& percentEncodedPath() const { return path_; }
    // Query and fragment as written (still percent-encoded), without "?" / "#".
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }
    // Decoded user name and password of the authority.
    const std::optional<std::string>& user() const { return user_; }
    const std::optional<std::string>& password() const { return password_; }

    bool isFileURL() const { return scheme_ == "file"; }
    // The local path of a file URL (decoded, as path()).
    std::filesystem::path filePath() const { return path(); }
    // The last segment of path(), "" when the path is empty and "/" for the root.
    std::string lastPathComponent() const;

    // Adds one or more segments to the path: "/" is inserted unless the path already
    // ends with one, and characters that cannot stand in a path are percent-encoded
    // ("a b" -> "a%20b", "%" -> "%25"); slashes in `component` separate segments.
    // Query and fragment are kept.
    Url appendingPathComponent(std::string_view component) const;
    // A reference resolved against this URL ("../x", "/root", "?q", "#f", or absolute).
    std::optional<Url> resolving(std::string_view reference) const;

    friend bool operator==(const Url& a, const Url& b) { return a.text_ == b.text_; }

private:
    Url() = default;
    bool opaque_ = false;
    std::string text_;
    std::string scheme_;
    std::optional<std::string> host_;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
    std::optional<std::string> user_;
    std::optional<std::string> password_;

    static std::optional<Url> parseHierarchical(std::string_view text);
    static std::optional<Url> parseOpaque(std::string_view text, std::string scheme);
};

// Character sets for percent-encoding: ASCII letters and digits plus
//   unreserved  - . _ ~
//   path        ! $ & ' ( ) * + , - . / : = @ _ ~
//   query       ! $ & ' ( ) * + , - . / : ; = ? @ _ ~   (also fragment)
//   host        ! $ & ' ( ) * + , - . : ; = [ ] _ ~
//   user        ! $ & ' ( ) * + , - . ; = _ ~           (also password)
enum class UrlCharacterSet { unreserved, path, query, fragment, host, user, password };

// Encodes every byte outside `allowed` as %XX (upper-case hex), non-ASCII bytes included.
std::string percentEncode(std::string_view text, UrlCharacterSet allowed);
// Decodes %XX escapes; a malformed escape or a result that is not valid UTF-8 gives nothing.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace platform

template <>
struct std::hash<platform::Url> {
    std::size_t operator()(const platform::Url& u) const noexcept {
        return std::hash<std::string>{}(u.absoluteString());
    }
};
