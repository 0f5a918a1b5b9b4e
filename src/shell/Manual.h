#pragma once
// The HTML manual that the window's Help button opens: beside the executable first (a
// build or a hand-made install), then in the installed documentation.
#include <functional>
#include <string>
#include <vector>

constexpr const char* MANUAL_FILE_NAME = "PellwickManual.html";
constexpr const char* INSTALLED_DOC_FOLDER = "/usr/share/doc/orvane-pellwick";

class CManual {
public:
    // Hands the manual's path to the desktop; false when that failed.
    using Opener = std::function<bool(const std::string& path)>;

    // By default the manual is looked for in the executable's folder, then in
    // INSTALLED_DOC_FOLDER, and opened with the desktop's handler.
    explicit CManual(Opener open = {}, std::vector<std::string> folders = {});

    // The first folder's manual that exists; empty when none does.
    std::string Find() const;
    // Opens the manual. When there is none, says where it was looked for; a failure of
    // the desktop's handler is ignored.
    void Open() const;

private:
    std::vector<std::string> m_folders;
    Opener m_open;
};
