// The process's control groups as /proc/self/cgroup names them, and the
// folders where their limits are read: a limit set on a group's parent binds
// the group too, so a group's limits are those of its own folder and of
// every folder above it, up to the root of the mount (in a container with
// its own group namespace, that root is the container's group).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The file's text, or nothing when it cannot be read.
using ReadText = std::function<std::optional<std::string>(const std::string& path)>;
std::optional<std::string> wholeFile(const std::string& path);

// For each line "N:CONTROLLERS:/path" of `procSelfCgroup` (CONTROLLERS is
// empty for the v2 hierarchy), calls visit(controllers, folder) for the
// group's folder and each one above it: "/a/b", "/a", "/".
void forEachGroupFolder(
    std::string_view procSelfCgroup,
    const std::function<void(std::string_view controllers, const std::string& folder)>& visit);

// Whether a v1 line's comma-separated controllers name `controller`.
bool namesController(std::string_view controllers, std::string_view controller);

// The file `name` of the folder under `root` ("/sys/fs/cgroup/memory").
std::string groupFile(const std::string& root, const std::string& folder, const std::string& name);
