#include "base/RunTimeError.h"

#include "base/Messages.h"

#include <filesystem>
#include <new>
#include <system_error>

namespace pellamark {

RunTimeError describeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const RunTimeError& e) {
        return e;
    } catch (const std::filesystem::filesystem_error& e) {
        return RunTimeError(e.code().value() != 0 ? e.code().value() : errnum::PathNotFound,
                            e.what());
    } catch (const std::system_error& e) {
        return RunTimeError(e.code().value() != 0 ? e.code().value() : errnum::Unexpected,
                            e.what());
    } catch (const std::bad_alloc&) {
        return RunTimeError(errnum::OutOfMemory, std::string(OutOfMemoryDescription));
    } catch (const std::exception& e) {
        return RunTimeError(errnum::Unexpected, e.what());
    } catch (...) {
        return RunTimeError(errnum::Unexpected, std::string(UnknownFailureDescription));
    }
}

} // namespace pellamark
