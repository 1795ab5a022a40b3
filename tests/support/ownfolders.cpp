// Linked into every test program: it runs with folders of its own for settings, data, caches,
// state and sockets, so that no test reads or writes the user's (the lab's run records, the
// stored port, a running panel's socket). They are set before main, so the programs a test
// starts (the panel, dosedeskctl, the simulated pump) inherit them.
//
// When the program ends, the folders the panel writes to are checked once more: a test that
// pointed them back at the user's own fails, whatever its test functions said.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Folder
{
    const char* variable;
    const char* underHome; // where the folder is when the variable is not set
};

constexpr Folder Folders[] = {
    {"XDG_CONFIG_HOME", ".config"},   {"XDG_DATA_HOME", ".local/share"},
    {"XDG_CACHE_HOME", ".cache"},     {"XDG_STATE_HOME", ".local/state"},
    {"XDG_RUNTIME_DIR", nullptr},
};

class OwnFolders
{
public:
    OwnFolders()
    {
        const QString home = QDir::homePath();
        for (const Folder& folder : Folders) {
            QString real = qEnvironmentVariable(folder.variable);
            if (real.isEmpty())
                real = folder.underHome ? QDir(home).filePath(QString::fromLatin1(folder.underHome))
                                        : QStringLiteral("/run/user/%1").arg(getuid());
            users.append(QDir::cleanPath(real));
            // 0700, as the runtime folder must be.
            const QString own = QDir(root.path()).filePath(QString::fromLatin1(folder.variable));
            QDir().mkpath(own);
            QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv(folder.variable, QFile::encodeName(own));
        }
    }

    ~OwnFolders()
    {
        const QString touched = usersFolderInUse();
        root.remove();
        if (touched.isEmpty())
            return;
        std::fprintf(stderr, "FAIL!  : the panel's folder %s lies in the user's own; tests keep to theirs\n",
                     qPrintable(touched));
        std::fflush(nullptr);
        std::_Exit(1);
    }

    OwnFolders(const OwnFolders&) = delete;
    OwnFolders& operator=(const OwnFolders&) = delete;

private:
    // The first of the panel's folders that lies in one of the user's; empty when none does.
    QString usersFolderInUse() const
    {
        for (auto location : {QStandardPaths::GenericConfigLocation,
                              QStandardPaths::GenericDataLocation,
                              QStandardPaths::GenericCacheLocation,
                              QStandardPaths::RuntimeLocation}) {
            const QString used = QDir::cleanPath(QStandardPaths::writableLocation(location));
            for (const QString& user : users) {
                if (used == user || used.startsWith(user + u'/'))
                    return used;
            }
        }
        return {};
    }

    QTemporaryDir root;
    QStringList users;
};

const OwnFolders ownFolders;

} // namespace
