#include "common/control_groups.h"

#include <fstream>
#include <iterator>

std::optional<std::string> wholeFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void forEachGroupFolder(
    std::string_view procSelfCgroup,
    const std::function<void(std::string_view controllers, const std::string& folder)>& visit) {
    while (!procSelfCgroup.empty()) {
        std::size_t end = std::min(procSelfCgroup.find('\n'), procSelfCgroup.size());
        std::string_view line = procSelfCgroup.substr(0, end);
        procSelfCgroup.remove_prefix(std::min(end + 1, procSelfCgroup.size()));
        std::size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) continue;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string folder(line.substr(second + 1));
        if (folder.empty() || folder[0] != '/') continue;
        while (!folder.empty() && folder != "/") {
            visit(controllers, folder);
            folder.erase(folder.rfind('/'));
        }
        visit(controllers, "/");
    }
}

bool namesController(std::string_view controllers, std::string_view controller) {
    while (!controllers.empty()) {
        std::size_t comma = std::min(controllers.find(','), controllers.size());
        if (controllers.substr(0, comma) == controller) return true;
        controllers.remove_prefix(std::min(comma + 1, controllers.size()));
    }
    return false;
}

std::string groupFile(const std::string& root, const std::string& folder, const std::string& name) {
    return root + (folder == "/" ? "" : folder) + "/" + name;
}
