#include "title.h"

namespace quarvel {
namespace {

// Both this platform's paths and Windows-style ones ("C:\dir\name.exe") name a file.
std::string_view file_name(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\:");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string strip_extension(std::string_view path) {
    const std::string_view name = file_name(path);
    const std::size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::string default_application_title(std::string_view path) {
    std::string_view name = file_name(path);
    name = name.substr(0, name.find('.'));
    std::string title;
    title.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        title += (i == 0) ? ascii_upper(name[i]) : ascii_lower(name[i]);
    }
    return title;
}

}  // namespace quarvel
