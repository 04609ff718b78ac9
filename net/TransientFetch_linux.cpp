#include "net/TransientFetch.h"

#include "net/FetchModule.h"
#include "settings/ProgramFiles.h"

#include <dirent.h>
#include <dlfcn.h>

#include <string>

namespace pellamark {

namespace {

// The error number a module that cannot be loaded is reported with, as the Windows fetch reports
// a library it cannot load (ERROR_MOD_NOT_FOUND).
constexpr std::int32_t ModuleNotLoaded = 126;

int threadCount() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            count += entry->d_name[0] != '.';
        ::closedir(tasks);
    }
    return count;
}

} // namespace

UrlFetcher transientFetcher(const std::filesystem::path& programFolder) {
    const std::filesystem::path module =
        findProgramFile(programFolder, ProgramFile::Module, "pellamark-fetch.so");
    return [module](const std::string& url, const FetchOptions& options) -> std::string {
        const int threadsBefore = threadCount();
        void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            if (options.onRunTimeError)
                options.onRunTimeError(ModuleNotLoaded, ::dlerror());
            return {};
        }
        const auto fetch =
            reinterpret_cast<FetchModuleEntry>(::dlsym(handle, PELLAMARK_FETCH_MODULE_ENTRY));
        if (!fetch) {
            const std::string why = ::dlerror();
            ::dlclose(handle);
            if (options.onRunTimeError)
                options.onRunTimeError(ModuleNotLoaded, why);
            return {};
        }
        std::string page = fetch(url, options);
        // A name lookup given up on may still run on a thread of the library's own, which ends
        // when the lookup does: the module stays loaded then, rather than leave that thread
        // without its code.
        if (threadCount() <= threadsBefore)
            ::dlclose(handle);
        return page;
    };
}

} // namespace pellamark
