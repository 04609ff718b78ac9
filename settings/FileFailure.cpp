#include "settings/FileFailure.h"

#include "base/Messages.h"

#include <cerrno>
#include <cstring>

namespace pellamark {

std::string describeFileFailure(const FileFailure& failure) {
    const std::string path = failure.path.string();
    const bool folder = failure.about == FileFailure::About::Folder;
    if (failure.about == FileFailure::About::NotARegularFile) {
        return notARegularFileReason(path);
    }
    switch (failure.error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return folder ? folderReadOnlyReason(path) : fileReadOnlyReason(path);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return diskFullReason(folder ? path : failure.path.parent_path().string());
    case ENOTDIR:
        return notAFolderReason(path);
    case ENOENT:
        return folder ? missingFolderReason(path) : fileFailureReason(path, std::strerror(ENOENT));
    case ETIMEDOUT:
        return fileBusyReason(path);
    default:
        return fileFailureReason(path, std::strerror(failure.error));
    }
}

std::int32_t codeForErrno(int error, std::int32_t otherwise) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return regcode::AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return regcode::DiskFull;
    case ENOMEM:
        return regcode::NotEnoughMemory;
    case ENOENT:
    case ENOTDIR:
        return regcode::PathNotFound;
    case ENAMETOOLONG:
    case EINVAL:
        return regcode::InvalidParameter;
    default:
        return otherwise;
    }
}

} // namespace pellamark
