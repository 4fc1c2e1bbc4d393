#pragma once

// A model hub on the loopback server for tests and benchmarks: one remote
// repository whose files are served at "<remote>/resolve/main/<path>" and
// whose folders are listed at "api/models/<remote>/tree/main[/<folder>]" as
// the hub lists them (immediate children, folders and files in the order
// they were added).

#include <algorithm>
#include <ostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Auralith/foundation/DownloadUtils.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/values/Bytes.h"

namespace auralith {
// Progress reports in test failures.
inline void PrintTo(const DownloadUtils::DownloadProgress& p, std::ostream* os) {
    static const char* const kinds[] = {"downloading", "compiling", "listing"};
    *os << "{" << p.fractionCompleted << ", " << kinds[static_cast<int>(p.phase.kind)] << " "
        << p.phase.completedFiles << "/" << p.phase.totalFiles << " \"" << p.phase.modelName << "\"}";
}
}  // namespace auralith

namespace auralith::testhub {

class FakeModelHub {
public:
    FakeModelHub(testsupport::LoopbackServer& server, std::string remotePath)
        : server_(server), remote_(std::move(remotePath)) {}

    // A file listed with its content's length as its size.
    void addFile(const std::string& path, std::string content) {
        const auto size = static_cast<std::int64_t>(content.size());
        addFile(path, std::move(content), nlohmann::ordered_json(size));
    }
    // A file listed with this "size" value; nothing leaves the member out.
    void addFile(const std::string& path, std::string content, std::optional<nlohmann::ordered_json> listedSize) {
        nlohmann::ordered_json object{{"type", "file"}, {"path", path}};
        if (listedSize) object["size"] = *listedSize;
        addChild(parentOf(path), std::move(object));
        files_[path] = std::make_shared<std::string>(std::move(content));
        registerFolders(parentOf(path));
    }
    // A large file as the hub lists one stored through LFS: its size and
    // "lfs": {"oid": <sha256>} (the content's own hash unless one is given).
    void addLfsFile(const std::string& path, std::string content, std::optional<std::string> sha256 = std::nullopt) {
        const auto size = static_cast<std::int64_t>(content.size());
        const std::string oid = sha256 ? *sha256 : platform::sha256Hex(std::string_view(content));
        nlohmann::ordered_json object{{"type", "file"}, {"path", path}, {"size", size},
                                      {"lfs", {{"oid", oid}, {"size", size}, {"pointerSize", 134}}}};
        addChild(parentOf(path), std::move(object));
        files_[path] = std::make_shared<std::string>(std::move(content));
        registerFolders(parentOf(path));
    }
    // Serves the file's content honouring "Range: bytes=<first>-" with a 206
    // answer (the rest of the content); without the header, the whole file.
    void serveRanges(const std::string& path) {
        auto body = files_.at(path);
        setFileReply(path, [body](const testsupport::LoopbackRequest& request) {
            const auto range = request.header("Range");
            if (!range || range->rfind("bytes=", 0) != 0)
                return testsupport::LoopbackReply{200, {{"Content-Type", "application/octet-stream"}}, *body};
            const std::size_t first = std::stoul(range->substr(6));
            if (first >= body->size()) return testsupport::LoopbackReply::text(416, "");
            return testsupport::LoopbackReply{
                206,
                {{"Content-Type", "application/octet-stream"},
                 {"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(body->size() - 1) + "/" +
                                       std::to_string(body->size())}},
                body->substr(first)};
        });
    }
    // An extra object in one folder's listing ("" for the top), served as it is.
    void addListingObject(const std::string& folder, nlohmann::ordered_json object) {
        addChild(folder, std::move(object));
        registerFolders(folder);
    }
    // A folder with nothing in it.
    void addFolder(const std::string& path) {
        registerFolders(path);
    }
    // Replaces the answer of one file (a status, a cut body ...).
    void setFileReply(const std::string& path, testsupport::LoopbackReply reply) {
        replies_[path] = [reply](const testsupport::LoopbackRequest&) { return reply; };
    }
    void setFileReply(const std::string& path, testsupport::LoopbackServer::Handler handler) {
        replies_[path] = std::move(handler);
    }
    // Replaces the answer of one folder's listing.
    void setListingReply(const std::string& folder, testsupport::LoopbackReply reply) {
        listingReplies_[folder] = std::move(reply);
        registerFolders(folder);
    }

    // Installs the routes for what was added so far.
    void publish() {
        for (const auto& folder : folders_) {
            auto it = listingReplies_.find(folder);
            if (it != listingReplies_.end()) {
                server_.route("GET", listingPath(folder), it->second);
                continue;
            }
            nlohmann::ordered_json listing = nlohmann::ordered_json::array();
            for (const auto& child : children_[folder]) listing.push_back(child);
            server_.route("GET", listingPath(folder),
                          testsupport::LoopbackReply{200, {{"Content-Type", "application/json"}}, listing.dump()});
        }
        for (const auto& [path, content] : files_) {
            auto it = replies_.find(path);
            if (it != replies_.end()) {
                server_.route("GET", filePath(path), it->second);
                continue;
            }
            auto body = content;
            server_.route("GET", filePath(path), [body](const testsupport::LoopbackRequest&) {
                return testsupport::LoopbackReply{200, {{"Content-Type", "application/octet-stream"}}, *body};
            });
        }
    }

    std::string listingPath(const std::string& folder) const {
        return "/api/models/" + remote_ + "/tree/main" + (folder.empty() ? "" : "/" + folder);
    }
    std::string filePath(const std::string& path) const { return "/" + remote_ + "/resolve/main/" + path; }

    std::size_t listingRequests() const { return countRequests("/api/models/"); }
    std::size_t fileRequests() const { return countRequests("/" + remote_ + "/resolve/main/"); }
    // The paths of the files requested, in order.
    std::vector<std::string> requestedFiles() const {
        std::vector<std::string> paths;
        const std::string prefix = "/" + remote_ + "/resolve/main/";
        for (const auto& r : server_.requests())
            if (r.path.rfind(prefix, 0) == 0) paths.push_back(r.path.substr(prefix.size()));
        return paths;
    }
    std::vector<std::string> listedFolders() const {
        std::vector<std::string> folders;
        const std::string prefix = "/api/models/" + remote_ + "/tree/main";
        for (const auto& r : server_.requests()) {
            if (r.path.rfind(prefix, 0) != 0) continue;
            const auto rest = r.path.substr(prefix.size());
            folders.push_back(rest.empty() ? "" : rest.substr(1));
        }
        return folders;
    }

private:
    static std::string parentOf(const std::string& path) {
        const auto slash = path.rfind('/');
        return slash == std::string::npos ? "" : path.substr(0, slash);
    }
    void addChild(const std::string& folder, nlohmann::ordered_json object) { children_[folder].push_back(std::move(object)); }
    // Makes every folder on the way a listed child of its parent.
    void registerFolders(const std::string& folder) {
        if (std::find(folders_.begin(), folders_.end(), folder) != folders_.end()) return;
        folders_.push_back(folder);
        if (folder.empty()) return;
        const auto parent = parentOf(folder);
        registerFolders(parent);
        addChild(parent, nlohmann::ordered_json{{"type", "directory"}, {"path", folder}});
    }
    std::size_t countRequests(const std::string& prefix) const {
        std::size_t n = 0;
        for (const auto& r : server_.requests())
            if (r.path.rfind(prefix, 0) == 0) ++n;
        return n;
    }

    testsupport::LoopbackServer& server_;
    std::string remote_;
    std::vector<std::string> folders_;
    std::map<std::string, std::vector<nlohmann::ordered_json>> children_;
    std::map<std::string, std::shared_ptr<std::string>> files_;
    std::map<std::string, testsupport::LoopbackServer::Handler> replies_;
    std::map<std::string, testsupport::LoopbackReply> listingReplies_;
};

}  // namespace auralith::testhub
