#include "app/user_places.h"

#include <QDir>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace sonorel {

bool isPrivateDirectory(const QString& path)
{
    struct stat status {};
    if (path.isEmpty() || lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == getuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::optional<QString> instanceSocketPath()
{
    // Qt takes $XDG_RUNTIME_DIR, or makes /tmp/runtime-USER with mode 0700.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!isPrivateDirectory(runtime))
        return std::nullopt;
    return QDir(runtime).filePath(QStringLiteral("sonorel-doctor.instance"));
}

QString reportFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents).exists() ? documents : QDir::homePath();
}

}  // namespace sonorel
