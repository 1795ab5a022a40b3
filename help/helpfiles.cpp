#include "helpfiles.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace HelpFiles {

namespace {
const QString relativeCollection = QStringLiteral("doc/HelpContentCol.qhc");
}

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
    return QCoreApplication::applicationDirPath() + QStringLiteral("/") + relativeCollection;
}

} // namespace HelpFiles
