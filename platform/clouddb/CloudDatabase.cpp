#include "platform/clouddb/CloudDatabase.h"

namespace platform {

namespace {
const char* caseName(CloudErrorCode code) {
    switch (code) {
        case CloudErrorCode::internalError: return "internalError";
        case CloudErrorCode::networkUnavailable: return "networkUnavailable";
        case CloudErrorCode::networkFailure: return "networkFailure";
        case CloudErrorCode::serviceUnavailable: return "serviceUnavailable";
        case CloudErrorCode::notAuthenticated: return "notAuthenticated";
        case CloudErrorCode::permissionFailure: return "permissionFailure";
        case CloudErrorCode::unknownItem: return "unknownItem";
        case CloudErrorCode::invalidArguments: return "invalidArguments";
        case CloudErrorCode::serverRejectedRequest: return "serverRejectedRequest";
        case CloudErrorCode::assetFileNotFound: return "assetFileNotFound";
        case CloudErrorCode::quotaExceeded: return "quotaExceeded";
    }
    return "unknown";
}

const char* standardDescription(CloudErrorCode code) {
    switch (code) {
        case CloudErrorCode::internalError: return "The cloud database failed internally.";
        case CloudErrorCode::networkUnavailable: return "The Internet connection appears to be offline.";
        case CloudErrorCode::networkFailure: return "The network connection was lost.";
        case CloudErrorCode::serviceUnavailable: return "The cloud service is unavailable.";
        case CloudErrorCode::notAuthenticated: return "No cloud account is signed in.";
        case CloudErrorCode::permissionFailure: return "Permission to the cloud database was denied.";
        case CloudErrorCode::unknownItem: return "Record not found.";
        case CloudErrorCode::invalidArguments: return "The request to the cloud database was invalid.";
        case CloudErrorCode::serverRejectedRequest: return "The server rejected the request.";
        case CloudErrorCode::assetFileNotFound: return "An asset file was not found.";
        case CloudErrorCode::quotaExceeded: return "The cloud storage quota is exceeded.";
    }
    return "Cloud database error.";
}
}  // namespace

Error cloudError(CloudErrorCode code, std::string description) {
    if (description.empty()) description = standardDescription(code);
    return Error::make(kCloudErrorDomain, static_cast<int>(code), caseName(code), std::move(description));
}

bool isCloudError(const Error& error, CloudErrorCode code) {
    return error.is(kCloudErrorDomain, static_cast<int>(code));
}

}  // namespace platform
