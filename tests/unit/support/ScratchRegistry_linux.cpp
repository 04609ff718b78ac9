#include "ScratchRegistry.h"

#include "TempDir.h"
#include "settings/FileRegistryStore.h"

#include <algorithm>
#include <vector>

namespace pellamark::testing {

namespace fs = std::filesystem;

struct ScratchRegistry::Place {
    TempDir dir;
    fs::path file() const { return dir / "config/pellamark/user.reg"; }
    fs::path autostart() const { return dir / "config/autostart"; }
};

ScratchRegistry::ScratchRegistry() : m_place(std::make_unique<Place>()) {
    m_store = std::make_unique<FileRegistryStore>(m_place->file(), m_place->autostart());
}

ScratchRegistry::~ScratchRegistry() = default;

std::string ScratchRegistry::snapshot() const {
    std::string text = readFile(m_place->file());
    std::error_code ec;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(m_place->autostart(), ec)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        text += "\n" + entry.filename().string() + ":\n" + readFile(entry);
    }
    return text;
}

bool ScratchRegistry::startsAtLogon(const std::string& name) const {
    return fs::exists(m_place->autostart() / (name + ".desktop"));
}

} // namespace pellamark::testing
