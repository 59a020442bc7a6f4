// How a message shows a path: as it is, unless it is empty or holds a
// control byte (0x00-0x1F or 0x7F), which a terminal would act on instead
// of showing (a CR puts the reason over the path). Such a path is quoted as
// a shell quotes it, so that it reads unambiguously and pastes back as the
// same bytes: the empty path as '', a path with control bytes as $'...',
// in which CR, LF and TAB are \r, \n and \t, the other control bytes \xHH,
// and a backslash and a single quote \\ and \'. An ordinary path, also one
// with a backslash or bytes from 0x80 up, is shown byte for byte.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

inline std::string shownPath(std::string_view path) {
    auto isControl = [](char byte) { return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F; };
    if (path.empty()) return "''";
    if (std::none_of(path.begin(), path.end(), isControl)) return std::string(path);
    static constexpr char Hex[] = "0123456789abcdef";
    std::string shown = "$'";
    for (char byte : path) {
        if (byte == '\r') {
            shown += "\\r";
        } else if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\t') {
            shown += "\\t";
        } else if (byte == '\\' || byte == '\'') {
            shown += '\\';
            shown += byte;
        } else if (isControl(byte)) {
            shown += "\\x";
            shown += Hex[static_cast<unsigned char>(byte) >> 4];
            shown += Hex[byte & 0xF];
        } else {
            shown += byte;
        }
    }
    return shown + "'";
}
