#include "shell/Manual.h"

#include "config/MessageHook.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

#include <sys/stat.h>

CManual::CManual(Opener open, std::vector<std::string> folders)
    : m_folders(std::move(folders)), m_open(std::move(open)) {
    if (m_folders.empty()) m_folders = {QCoreApplication::applicationDirPath().toStdString(), INSTALLED_DOC_FOLDER};
    if (!m_open)
        m_open = [](const std::string& path) {
            return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
        };
}

std::string CManual::Find() const {
    for (const std::string& folder : m_folders) {
        const std::string path = folder + "/" + MANUAL_FILE_NAME;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    }
    return {};
}

void CManual::Open() const {
    const std::string path = Find();
    if (!path.empty()) {
        m_open(path);
        return;
    }
    std::string places;
    for (const std::string& folder : m_folders) places += (places.empty() ? "" : " or ") + folder;
    ShowErrorMessage(std::string("The manual ") + MANUAL_FILE_NAME + " was not found in " + places + ".", "Help");
}
