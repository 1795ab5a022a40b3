#include "simulatorprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace Simulator {

namespace {

const QString programName = QStringLiteral("velor-pump-sim");

} // namespace

SimulatorProcess::SimulatorProcess()
    : SimulatorProcess(locateProgram())
{
}

SimulatorProcess::SimulatorProcess(const QString& program)
    : executable(program)
{
}

SimulatorProcess::~SimulatorProcess()
{
    if (isRunning()) {
        process.kill();
        process.waitForFinished(2000);
    }
}

QString SimulatorProcess::locateProgram()
{
    const QString here = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                      : QDir::currentPath();
    const QStringList folders = {here, here + QStringLiteral("/bin"),
                                 here + QStringLiteral("/../bin")};
    for (const QString& folder : folders) {
        const QFileInfo candidate(QDir(folder).filePath(programName));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.canonicalFilePath();
    }
    return {};
}

bool SimulatorProcess::start(const QStringList& arguments, int timeoutMs)
{
    if (isRunning())
        stop();
    if (executable.isEmpty()) {
        error = QStringLiteral("%1 not found").arg(programName);
        return false;
    }
    device.clear();
    // The simulator ends when our end of its input closes, also if this process dies.
    QStringList options{QStringLiteral("--quit-on-eof")};
    // The log goes to a file rather than a pipe that nobody might drain while the caller blocks.
    const bool ownLog = std::any_of(arguments.begin(), arguments.end(), [](const QString& argument) {
        return argument == QLatin1String("--log") || argument.startsWith(QLatin1String("--log="));
    });
    if (!ownLog) {
        logFile.close();
        if (!logFile.open()) {
            error = logFile.errorString();
            return false;
        }
        logFile.resize(0);
        options << QStringLiteral("--log") << logFile.fileName();
    }
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setReadChannel(QProcess::StandardOutput);
    process.start(executable, options + arguments);
    if (!process.waitForStarted(timeoutMs)) {
        error = process.errorString();
        return false;
    }
    device = readLine(timeoutMs);
    if (device.isEmpty()) {
        error = QStringLiteral("%1 printed no device path").arg(programName);
        stop();
        return false;
    }
    return true;
}

void SimulatorProcess::stop(int timeoutMs)
{
    if (!isRunning())
        return;
    process.write("quit\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(timeoutMs);
    }
}

bool SimulatorProcess::isRunning() const
{
    return process.state() != QProcess::NotRunning;
}

QString SimulatorProcess::sendControl(const QString& line, int timeoutMs)
{
    if (!isRunning())
        return {};
    process.write(line.toLocal8Bit() + '\n');
    process.waitForBytesWritten(timeoutMs);
    const QString reply = readLine(timeoutMs);
    if (line.trimmed() == QLatin1String("replug") && reply.startsWith(QLatin1String("ok ")))
        device = reply.mid(3);
    return reply;
}

QString SimulatorProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine()) {
        if (!isRunning() || deadline.hasExpired())
            return {};
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

QByteArray SimulatorProcess::readLog()
{
    QFile file(logFile.fileName());
    if (logFile.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace Simulator
