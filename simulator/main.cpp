// velor-pump-sim: a simulated Velor pump on a pseudo-terminal, for trying the panel without a pump.

#include "ptybalance.h"
#include "ptypump.h"
#include "pumpcontrol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// A command-line option that stands for one control line ("%1" takes the option's value).
struct FaultOption
{
    const char* name;
    const char* valueName; // nullptr for a plain switch
    const char* description;
    const char* controlLine;
};

const FaultOption faultOptions[] = {
    {"silent", nullptr, "Send nothing at all.", "silent on"},
    {"nak-all", nullptr, "Refuse every frame with NAK.", "nak-all on"},
    {"bad-lrc", nullptr, "Answer frames carry a wrong check byte.", "bad-lrc on"},
    {"late-lrc", nullptr, "Send the check byte 200 ms after ETX.", "late-lrc on"},
    {"chunked", nullptr, "Send answers in 3-byte chunks, 30 ms apart.", "chunked on"},
    {"zero-lrc", nullptr, "Pad plain-number answers so that their check byte is 0.", "zero-lrc on"},
    {"cut-at-etx", nullptr, "End answer frames at ETX, without check byte.", "cut-at-etx on"},
    {"master-stop", nullptr, "Start with master stop active.", "master-stop on"},
    {"garbage", "N", "Send N noise bytes before the first answer.", "garbage %1 next"},
    {"corrupt", "FRACTION", "Change this share of the sent bytes (0 to 1).", "corrupt %1"},
    {"error-bits", "N", "Error word (status word 6), e.g. 129 = overpressure + no encoder.",
     "error-bits %1"},
};

std::FILE* logFile = stderr;

void writeLog(const QString& line)
{
    const QByteArray text = line.toLocal8Bit() + '\n';
    std::fputs(text.constData(), logFile);
    std::fflush(logFile);
}

void writeReply(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

// Reads control lines from standard input until "quit", a termination signal, or (when asked)
// the end of the input.
void serve(Simulator::PumpControl& control, int signalFd, bool quitOnEof)
{
    QByteArray pending;
    bool inputOpen = true;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, inputOpen ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN)
            return;
        if (!inputOpen || fds[1].revents == 0)
            continue;
        char buffer[512];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            if (quitOnEof)
                return;
            inputOpen = false;
            continue;
        }
        pending.append(buffer, int(got));
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromLocal8Bit(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (line.isEmpty())
                continue;
            const Simulator::PumpControl::Result result = control.apply(line);
            writeLog(QStringLiteral("# %1  -> %2").arg(line, Simulator::PumpControl::replyLine(result)));
            writeReply(Simulator::PumpControl::replyLine(result));
            if (result.quit)
                return;
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velor-pump-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated Velor dosing pump (or several on one line) on a pseudo-terminal. Prints the\n"
        "device path as its first line, then serves until killed or until \"quit\" is read on\n"
        "standard input."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help."));
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Keep a symbolic link PATH pointing at the device."), QStringLiteral("PATH"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("Pump address 0 to 99 (default 0). Repeat it for more pumps on the same "
                       "line, each with a model and state of its own; the same address twice "
                       "makes an address conflict, their answers colliding on the line."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption modelOption(
        QStringLiteral("model"),
        QStringLiteral("Pump model code 102 or 110 (default 110). Repeated: the models of the "
                       "pumps in the order of their --address, 110 for those left out."),
        QStringLiteral("CODE"), QStringLiteral("110"));
    const QCommandLineOption noPacingOption(QStringLiteral("no-pacing"),
        QStringLiteral("Send answers at once instead of at 9600 baud."));
    const QCommandLineOption turnaroundOption(QStringLiteral("turnaround"),
        QStringLiteral("Silence before each answer in ms (default 2)."), QStringLiteral("MS"),
        QStringLiteral("2"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Write the frame log to FILE instead of standard error."), QStringLiteral("FILE"));
    const QCommandLineOption quitOnEofOption(QStringLiteral("quit-on-eof"),
        QStringLiteral("Stop when standard input ends (for a controlling program)."));
    const QCommandLineOption trueFactorOption(
        QStringLiteral("true-factor"),
        QStringLiteral("Deliver F times what the pump meters, 0.5 to 1.5 (default 1); its\n"
                       "calibration % scales it further, as a real pump's does."),
        QStringLiteral("F"), QStringLiteral("1"));
    const QCommandLineOption balanceOption(
        QStringLiteral("balance"),
        QStringLiteral("Also serve a balance weighing what the pump delivered (MT-SICS: SI, S,\n"
                       "Z) on a second pseudo-terminal, linked at PATH; its device is the\n"
                       "second line printed."),
        QStringLiteral("PATH"));
    const QCommandLineOption densityOption(
        QStringLiteral("density"),
        QStringLiteral("Grams the balance shows per ml delivered (default 0.9972: water at\n"
                       "20 °C weighed in air)."),
        QStringLiteral("G_PER_ML"), QStringLiteral("0.9972"));
    parser.addOptions({helpOption, linkOption, addressOption, modelOption, noPacingOption,
                       turnaroundOption, logOption, quitOnEofOption, trueFactorOption,
                       balanceOption, densityOption});
    QList<QCommandLineOption> faultCommandOptions;
    for (const FaultOption& fault : faultOptions) {
        faultCommandOptions.append(fault.valueName
            ? QCommandLineOption(QLatin1String(fault.name), QLatin1String(fault.description),
                                 QLatin1String(fault.valueName))
            : QCommandLineOption(QLatin1String(fault.name), QLatin1String(fault.description)));
        parser.addOption(faultCommandOptions.back());
    }

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::printf("%s\nControl lines on standard input (also while running):\n%s",
                    qPrintable(parser.helpText()), qPrintable(Simulator::PumpControl::help()));
        return 0;
    }

    Simulator::PtyPump::Options options;
    const bool pumpsOk = Simulator::PumpControl::choosePumps(parser.values(addressOption),
                                                             parser.values(modelOption), options);
    bool turnaroundOk = false;
    options.turnaroundMs = parser.value(turnaroundOption).toInt(&turnaroundOk);
    options.pacing = !parser.isSet(noPacingOption);
    options.linkPath = parser.value(linkOption);
    bool factorOk = false;
    bool densityOk = false;
    options.trueFactor = parser.value(trueFactorOption).toDouble(&factorOk);
    const double density = parser.value(densityOption).toDouble(&densityOk);
    if (!pumpsOk || !turnaroundOk || options.turnaroundMs < 0 || !factorOk
        || options.trueFactor < 0.5 || options.trueFactor > 1.5 || !densityOk || density <= 0
        || density > 3) {
        std::fprintf(stderr, "invalid --address, --model, --turnaround, --true-factor or --density "
                             "(see --help)\n");
        return 2;
    }
    if (parser.isSet(logOption)) {
        logFile = std::fopen(QFile::encodeName(parser.value(logOption)).constData(), "a");
        if (!logFile) {
            std::fprintf(stderr, "cannot open log file: %s\n", std::strerror(errno));
            return 1;
        }
    }

    // Termination signals are taken by the control loop, so that the link is removed on exit;
    // blocked before the pump's thread starts, so that it inherits the mask.
    sigset_t termination;
    sigemptyset(&termination);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&termination, signal);
    pthread_sigmask(SIG_BLOCK, &termination, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = ::signalfd(-1, &termination, SFD_CLOEXEC);

    Simulator::PtyPump pump(options);
    pump.setLogSink(writeLog);
    Simulator::PumpControl control(pump);
    for (int i = 0; i < int(std::size(faultOptions)); ++i) {
        if (!parser.isSet(faultCommandOptions[i]))
            continue;
        const QString line = QString::fromLatin1(faultOptions[i].controlLine)
                                 .replace(QLatin1String("%1"), parser.value(faultCommandOptions[i]));
        const Simulator::PumpControl::Result result = control.apply(line);
        if (!result.ok) {
            std::fprintf(stderr, "--%s: %s\n", faultOptions[i].name, qPrintable(result.message));
            return 2;
        }
    }
    if (!pump.start()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(pump.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(pump.devicePath()));
    Simulator::PtyBalance::Options balanceOptions;
    balanceOptions.linkPath = parser.value(balanceOption);
    Simulator::PtyBalance balance([&pump, density] { return pump.outflowMl() * density; },
                                  balanceOptions);
    if (parser.isSet(balanceOption)) {
        if (!balance.start()) {
            std::fprintf(stderr, "cannot open the balance's pseudo-terminal: %s\n",
                         qPrintable(balance.errorString()));
            return 1;
        }
        std::printf("%s\n", qPrintable(balance.devicePath()));
        writeLog(QStringLiteral("# balance on %1 (link %2), %3 g per ml, true factor %4")
                     .arg(balance.devicePath(), balanceOptions.linkPath)
                     .arg(density)
                     .arg(options.trueFactor));
    }
    std::fflush(stdout);
    for (const Simulator::PtyPump::BusPump& each : options.pumps()) {
        writeLog(
            QStringLiteral("# pump %1 at address %2 on %3%4")
                .arg(each.modelCode)
                .arg(each.address)
                .arg(pump.devicePath(), options.linkPath.isEmpty()
                                            ? QString()
                                            : QStringLiteral(" (link %1)").arg(options.linkPath)));
    }

    serve(control, signalFd, parser.isSet(quitOnEofOption));
    balance.stop();
    pump.stop();
    return 0;
}
