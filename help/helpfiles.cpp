#include "helpfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace HelpFiles {

namespace {
const QString relativeCollection = QStringLiteral("doc/HelpContentCol.qhc");
// From the installed program's folder to the installed collection, e.g. "../share/dosedesk/doc".
const QString installedCollection =
    QStringLiteral(DOSEDESK_INSTALLED_HELP_DIR) + QStringLiteral("/HelpContentCol.qhc");
} // namespace

QUrl folderUrl()
{
    return QUrl(QStringLiteral("qthelp://zul.dosedesk.1.0/doc/"));
}

QUrl pageUrl(const QString& page)
{
    return QUrl(folderUrl().toString() + page);
}

QUrl startPage()
{
    return pageUrl(QStringLiteral("index.html"));
}

QString collectionPath()
{
    const QString inWorkingDirectory = QStringLiteral("./") + relativeCollection;
    if (QFileInfo::exists(inWorkingDirectory))
        return inWorkingDirectory;
    const QString programFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/");
    const QString installed = QDir::cleanPath(programFolder + installedCollection);
    if (!QFileInfo::exists(programFolder + relativeCollection) && QFileInfo::exists(installed))
        return installed;
    return programFolder + relativeCollection;
}

} // namespace HelpFiles
