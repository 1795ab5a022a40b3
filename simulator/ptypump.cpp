#include "ptypump.h"

#include "framing.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace Simulator {

namespace {

// After a hang-up or read error on the master the pump looks again this much later, so that a
// terminal nobody holds does not make it spin.
constexpr qint64 hangupRetryUs = 50000;
constexpr int readChunk = 256;
// The log keeps the latest frames only, so that a long session does not grow without end.
constexpr int maxRecords = 100000;
// A byte of an answer that goes out this much after it was due makes the answer late for the
// link, which waits 119 ms for the whole of it.
constexpr qint64 lateAnswerUsLimit = 60000;
// Scheduling priority of the pump's thread (a nice value; lower runs first).
constexpr int PumpThreadNice = -10;

QString faultNames(const Faults& faults)
{
    QStringList names;
    const std::pair<bool, const char*> flags[] = {
        {faults.badCheckByte, "bad check byte"},
        {faults.lateCheckByteMs > 0, "late check byte"},
        {faults.chunkSize > 0, "chunked"},
        {faults.zeroCheckByte, "zero check byte"},
        {faults.cutAtEtx, "cut at ETX"},
        {faults.corruptFraction > 0.0, "corrupting"},
    };
    for (const auto& [on, name] : flags) {
        if (on)
            names << QLatin1String(name);
    }
    return names.isEmpty() ? QString() : QStringLiteral("  [%1]").arg(names.join(QLatin1String(", ")));
}

// What the line carries when several pumps answer one frame at once: each answer's bytes run
// together (their pauses are lost in the clash), and a byte where any driver pulls a bit low has
// it low: the bytewise AND of the answers aligned at their start, the rest of the longest as it
// is. Noise the first answer was sent with stays in front. Answers that differ never make a
// sound frame: the clash upsets the bits' timing as well, so where the AND alone happens to
// leave a frame whose check byte fits, that check byte is falsified.
QList<Segment> collide(const QList<QList<Segment>>& answers, int garbageCount)
{
    QList<Segment> line;
    QByteArray combined;
    QByteArray first;
    bool differing = false;
    for (qsizetype i = 0; i < answers.size(); ++i) {
        QByteArray bytes;
        for (const Segment& segment : answers[i])
            bytes += segment.bytes;
        if (i == 0 && garbageCount > 0) {
            line.append({0, bytes.left(garbageCount)});
            bytes.remove(0, garbageCount);
        }
        if (i == 0)
            first = bytes;
        differing = differing || bytes != first;
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            if (at < combined.size())
                combined[at] = char(quint8(combined[at]) & quint8(bytes[at]));
            else
                combined += bytes[at];
        }
    }
    const qsizetype stx = combined.indexOf(Protocol::STX);
    const qsizetype etx = stx < 0 ? -1 : combined.indexOf(Protocol::ETX, stx);
    if (differing && etx >= 0 && etx + 1 < combined.size()
        && Protocol::Framing::checkByte(combined.mid(stx, etx - stx + 2)) == 0)
        combined[etx + 1] = char(quint8(combined[etx + 1]) ^ Protocol::InvalidLrcMask);
    line.append({0, combined});
    return line;
}

} // namespace

PtyPump::PtyPump()
    : PtyPump(Options())
{
}

PtyPump::PtyPump(const Options& chosen)
    : options(chosen), startUs(steadyUs()), shaper(chosen.randomSeed)
{
    for (const BusPump& pump : chosen.pumps()) {
        Station station{std::make_unique<PumpEngine>(pump.modelCode, pump.address), true};
        station.engine->model().setTrueFactor(chosen.trueFactor);
        stations.push_back(std::move(station));
    }
}

PtyPump::~PtyPump()
{
    stop();
}

qint64 PtyPump::nowUs() const
{
    return steadyUs() - startUs;
}

qint64 PtyPump::modelMs() const
{
    return qint64(double(nowUs()) * options.clockSpeed / 1000.0);
}

bool PtyPump::start()
{
    if (thread.joinable())
        return true;
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        std::lock_guard lock(mutex);
        error = QStringLiteral("eventfd: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!openTerminal()) {
        closeFd(wakeFd);
        return false;
    }
    {
        std::lock_guard lock(mutex);
        stopping = false;
    }
    thread = std::thread(&PtyPump::run, this);
    return true;
}

void PtyPump::stop()
{
    if (thread.joinable()) {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake();
        changed.notify_all();
        thread.join();
    }
    closeTerminal();
    closeFd(wakeFd);
}

bool PtyPump::isRunning() const
{
    std::lock_guard lock(mutex);
    return thread.joinable() && !stopping;
}

QString PtyPump::errorString() const
{
    std::lock_guard lock(mutex);
    return error;
}

QString PtyPump::devicePath() const
{
    std::lock_guard lock(mutex);
    return device;
}

QString PtyPump::linkPath() const
{
    return options.linkPath;
}

QString PtyPump::portPath() const
{
    return options.linkPath.isEmpty() ? devicePath() : options.linkPath;
}

bool PtyPump::openTerminal()
{
    const bool opened = terminal.open(options.linkPath);
    std::lock_guard lock(mutex);
    device = terminal.device();
    error = opened ? QString() : terminal.errorString();
    return opened;
}

void PtyPump::closeTerminal()
{
    terminal.close();
    output.clear();
    lineFreeUs = 0;
    hangupUntilUs = 0;
    std::lock_guard lock(mutex);
    device.clear();
    pending.clear();
}

void PtyPump::wake()
{
    if (wakeFd >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }
}

void PtyPump::runOnPumpThread(const std::function<void()>& task)
{
    if (!thread.joinable() || std::this_thread::get_id() == thread.get_id()) {
        task();
        return;
    }
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard lock(mutex);
        tasks.push_back([this, task, done] {
            task();
            std::lock_guard inner(mutex);
            *done = true;
            changed.notify_all();
        });
    }
    wake();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return *done || stopping; });
}

void PtyPump::run()
{
    // A real pump has a processor of its own and answers in time however busy the computer is.
    // The simulated one asks to be first on the processor where the system allows it, so that a
    // busy machine does not stretch its answers past the link's answer time.
    setpriority(PRIO_PROCESS, ::gettid(), PumpThreadNice);
    for (;;) {
        std::deque<std::function<void()>> due;
        {
            std::lock_guard lock(mutex);
            if (stopping)
                break;
            due.swap(tasks);
        }
        for (const auto& task : due)
            task();

        writeDueOutput();
        changePlugsDue();

        const qint64 now = nowUs();
        qint64 waitUs = -1;
        if (!output.empty())
            waitUs = std::max<qint64>(0, output.front().dueUs - now);
        if (!plugChangesUs.empty()) {
            const qint64 untilChange = std::max<qint64>(0, plugChangesUs.front() - now);
            waitUs = waitUs < 0 ? untilChange : std::min(waitUs, untilChange);
        }
        const bool resting = hangupUntilUs > now;
        if (resting)
            waitUs = waitUs < 0 ? hangupUntilUs - now : std::min(waitUs, hangupUntilUs - now);

        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {terminal.master(), POLLIN, 0}};
        const nfds_t count = terminal.isOpen() && !resting ? 2 : 1;
        timespec timeout{waitUs / 1000000, long(waitUs % 1000000) * 1000};
        if (::ppoll(fds, count, waitUs < 0 ? nullptr : &timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            quint64 counter = 0;
            [[maybe_unused]] const auto got = ::read(wakeFd, &counter, sizeof counter);
        }
        if (count < 2 || fds[1].revents == 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char buffer[readChunk];
            const ssize_t got = ::read(terminal.master(), buffer, sizeof buffer);
            if (got > 0) {
                handleInput(QByteArray(buffer, int(got)));
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        // Hang-up, error, end of file or EIO: nobody holds the other side; look again later.
        hangupUntilUs = nowUs() + hangupRetryUs;
    }
}

void PtyPump::handleInput(const QByteArray& bytes)
{
    const qint64 receivedUs = nowUs();
    QStringList lines;
    QList<Segment> segments;
    int turnaroundMs = 0;
    std::function<void(const QString&)> sink;
    {
        std::lock_guard lock(mutex);
        const qint64 receivedMs = qint64(double(receivedUs) * options.clockSpeed / 1000.0);
        // The line is cut into frames once; every pump switched on judges each whole frame.
        pending += bytes;
        while (const auto frame = Protocol::Framing::takeCommand(pending)) {
            const QByteArray body = Protocol::Framing::commandBody(*frame);
            // The first addressed pump's view of the frame, for the log.
            ReceivedFrame received{*frame, ReceivedFrame::Outcome::OtherAddress, {}, false};
            bool addressed = false;
            QList<QList<Segment>> answers;
            int garbageSent = 0;
            for (Station& station : stations) {
                if (!station.powered)
                    continue;
                station.engine->setRefuseAll(currentFaults.nakAll);
                station.engine->setRefusedCode(currentFaults.refusedCode);
                for (const ReceivedFrame& judged : station.engine->receive(*frame, receivedMs)) {
                    if (judged.outcome == ReceivedFrame::Outcome::OtherAddress)
                        continue;
                    if (!addressed)
                        received = judged;
                    addressed = true;
                    const QList<Segment> shaped =
                        shaper.shape(body, judged.reply, currentFaults, garbageBeforeAnswer);
                    if (shaped.isEmpty())
                        continue;
                    if (answers.isEmpty())
                        garbageSent = garbageBeforeAnswer;
                    garbageBeforeAnswer = 0;
                    answers.append(shaped);
                }
            }
            const QList<Segment> sent = answers.size() > 1  ? collide(answers, garbageSent)
                                        : answers.isEmpty() ? QList<Segment>()
                                                            : answers.first();
            QByteArray answer;
            for (const Segment& segment : sent)
                answer += segment.bytes;
            answer.remove(0, garbageSent);
            segments += sent;
            ExchangeRecord record{receivedUs / 1000, received.frame, answer, {}};
            record.text = describe(received, answer, int(answers.size()));
            records.append(record);
            if (records.size() > maxRecords)
                records.removeFirst();
            ++framesTotal;
            lines << record.text;
        }
        turnaroundMs = options.turnaroundMs;
        sink = logSink;
        changed.notify_all();
    }
    if (!segments.isEmpty())
        schedule(segments, receivedUs + qint64(turnaroundMs) * 1000);
    if (sink) {
        for (const QString& line : std::as_const(lines))
            sink(line);
    }
}

void PtyPump::schedule(const QList<Segment>& segments, qint64 earliestUs)
{
    bool pacing = true;
    {
        std::lock_guard lock(mutex);
        pacing = options.pacing;
    }
    // The line sends one byte after the other: a new answer waits until the last one is out.
    qint64 at = std::max(earliestUs, lineFreeUs);
    for (const Segment& segment : segments) {
        at += qint64(segment.gapBeforeMs) * 1000;
        if (!pacing) {
            output.push_back({at, segment.bytes});
            continue;
        }
        for (const char byte : segment.bytes) {
            output.push_back({at, QByteArray(1, byte)});
            at += byteTimeUs;
        }
    }
    lineFreeUs = at;
}

void PtyPump::writeDueOutput()
{
    const qint64 now = nowUs();
    QByteArray due;
    bool late = false;
    while (!output.empty() && output.front().dueUs <= now) {
        late = late || now - output.front().dueUs > lateAnswerUsLimit;
        due += output.front().bytes;
        output.pop_front();
    }
    if (late) {
        std::lock_guard lock(mutex);
        lateAnswerUs = now;
    }
    // Bytes nobody can take are lost, as on a real line without a listener.
    if (!due.isEmpty() && terminal.isOpen()) [[maybe_unused]]
        const auto written = ::write(terminal.master(), due.constData(), size_t(due.size()));
}

QString PtyPump::describe(const ReceivedFrame& received, const QByteArray& answer,
                          int answering) const
{
    using Outcome = ReceivedFrame::Outcome;
    QString what;
    if (received.outcome == Outcome::OtherAddress) {
        what = stations.size() == 1 && stations.front().powered
                   ? QStringLiteral("(not for this pump, ignored)")
                   : QStringLiteral("(no pump switched on at this address, ignored)");
    } else if (currentFaults.silent) {
        what = QStringLiteral("nothing (silent)");
    } else if (answer.isEmpty()) {
        what = received.quietByProtocol ? QStringLiteral("nothing (protocol answers off)")
                                        : QStringLiteral("nothing");
    } else if (answer.size() == 1 && (answer[0] == Protocol::ACK || answer[0] == Protocol::NAK)) {
        what = answer[0] == Protocol::ACK ? QStringLiteral("ACK") : QStringLiteral("NAK");
    } else {
        what = PumpEngine::readable(answer);
    }
    if (answering > 1)
        what = QStringLiteral("collision of %1 answers: %2").arg(answering).arg(what);
    if (received.outcome == Outcome::BadCheckByte)
        what += QStringLiteral(" (wrong check byte)");
    if (received.outcome == Outcome::Refused)
        what += currentFaults.nakAll ? QStringLiteral(" (refusing everything)")
                                     : QStringLiteral(" (refusing this code)");
    if (!answer.isEmpty())
        what += faultNames(currentFaults);
    const qint64 ms = nowUs() / 1000;
    return QStringLiteral("[%1.%2] %3  -> %4")
        .arg(ms / 1000, 6)
        .arg(ms % 1000, 3, 10, QLatin1Char('0'))
        .arg(PumpEngine::readable(received.frame), what);
}

bool PtyPump::unplug()
{
    bool wasPlugged = false;
    runOnPumpThread([this, &wasPlugged] {
        wasPlugged = terminal.isOpen();
        closeTerminal();
    });
    return wasPlugged;
}

bool PtyPump::replug()
{
    bool opened = false;
    runOnPumpThread([this, &opened] {
        closeTerminal();
        opened = openTerminal();
    });
    return opened;
}

void PtyPump::schedulePlugChanges(int count, int firstMs, int intervalMs)
{
    runOnPumpThread([this, count, firstMs, intervalMs] {
        qint64 at = nowUs() + qint64(firstMs) * 1000;
        for (int i = 0; i < count; ++i, at += qint64(intervalMs) * 1000)
            plugChangesUs.push_back(at);
    });
    wake();
}

void PtyPump::changePlugsDue()
{
    while (!plugChangesUs.empty() && plugChangesUs.front() <= nowUs()) {
        plugChangesUs.pop_front();
        if (terminal.isOpen())
            closeTerminal();
        else
            openTerminal();
    }
}

bool PtyPump::isPlugged() const
{
    return !devicePath().isEmpty();
}

void PtyPump::setPacing(bool on)
{
    std::lock_guard lock(mutex);
    options.pacing = on;
}

void PtyPump::setTurnaroundMs(int milliseconds)
{
    std::lock_guard lock(mutex);
    options.turnaroundMs = std::max(0, milliseconds);
}

Faults PtyPump::faults() const
{
    std::lock_guard lock(mutex);
    return currentFaults;
}

void PtyPump::setFaults(const Faults& faults)
{
    modifyFaults([&faults](Faults& current) { current = faults; });
}

void PtyPump::modifyFaults(const std::function<void(Faults&)>& change)
{
    std::lock_guard lock(mutex);
    change(currentFaults);
}

void PtyPump::injectGarbage(int count, bool beforeNextAnswer)
{
    if (count <= 0)
        return;
    if (beforeNextAnswer) {
        std::lock_guard lock(mutex);
        garbageBeforeAnswer += count;
        return;
    }
    runOnPumpThread([this, count] {
        QByteArray noise;
        {
            std::lock_guard lock(mutex);
            noise = shaper.garbage(count);
        }
        schedule({Segment{0, noise}}, nowUs());
    });
}

template<typename Result>
Result PtyPump::withModel(const std::function<Result(PumpModel&)>& use) const
{
    std::lock_guard lock(mutex);
    PumpModel& model = stations.front().engine->model();
    model.advanceTo(modelMs());
    return use(model);
}

template <typename Result>
Result PtyPump::withModels(int address, const std::function<Result(PumpModel&)>& use,
                           Result missing) const
{
    std::lock_guard lock(mutex);
    std::optional<Result> result;
    for (const Station& station : stations) {
        PumpModel& model = station.engine->model();
        if (model.address() != address)
            continue;
        model.advanceTo(modelMs());
        Result each = use(model);
        if (!result)
            result = std::move(each);
    }
    return result ? *result : missing;
}

bool PtyPump::setValue(const QByteArray& code, qint64 value)
{
    return withModel<bool>([&](PumpModel& model) { return model.setValue(code, value); });
}

std::optional<qint64> PtyPump::value(const QByteArray& code) const
{
    return withModel<std::optional<qint64>>([&](PumpModel& model) { return model.value(code); });
}

QByteArray PtyPump::query(const QByteArray& body)
{
    return withModel<QByteArray>([&](PumpModel& model) {
        const Reply reply = model.handle(body, modelMs());
        return reply.kind == Reply::Kind::Data ? reply.data : QByteArray();
    });
}

void PtyPump::raiseErrorBits(quint8 bits)
{
    withModel<bool>([bits](PumpModel& model) { model.raiseErrorBits(bits); return true; });
}

void PtyPump::clearErrorBits(quint8 bits)
{
    withModel<bool>([bits](PumpModel& model) { model.clearErrorBits(bits); return true; });
}

void PtyPump::setErrorBits(quint8 bits)
{
    withModel<bool>([bits](PumpModel& model) { return model.setValue("SS6", bits); });
}

void PtyPump::setMasterStop(bool active)
{
    withModel<bool>([active](PumpModel& model) { model.setMasterStop(active); return true; });
}

double PtyPump::outflowMl() const
{
    return withModel<double>([](PumpModel& model) { return model.outflowMl(); });
}

int PtyPump::address() const
{
    return withModel<int>([](PumpModel& model) { return model.address(); });
}

bool PtyPump::setValue(int address, const QByteArray& code, qint64 value)
{
    return withModels<bool>(address, [&](PumpModel& model) { return model.setValue(code, value); });
}

std::optional<qint64> PtyPump::value(int address, const QByteArray& code) const
{
    return withModels<std::optional<qint64>>(address,
                                             [&](PumpModel& model) { return model.value(code); });
}

QByteArray PtyPump::query(int address, const QByteArray& body)
{
    return withModels<QByteArray>(address, [&](PumpModel& model) {
        const Reply reply = model.handle(body, modelMs());
        return reply.kind == Reply::Kind::Data ? reply.data : QByteArray();
    });
}

bool PtyPump::raiseErrorBits(int address, quint8 bits)
{
    return withModels<bool>(address, [bits](PumpModel& model) {
        model.raiseErrorBits(bits);
        return true;
    });
}

bool PtyPump::clearErrorBits(int address, quint8 bits)
{
    return withModels<bool>(address, [bits](PumpModel& model) {
        model.clearErrorBits(bits);
        return true;
    });
}

bool PtyPump::setErrorBits(int address, quint8 bits)
{
    return withModels<bool>(address,
                            [bits](PumpModel& model) { return model.setValue("SS6", bits); });
}

bool PtyPump::setMasterStop(int address, bool active)
{
    return withModels<bool>(address, [active](PumpModel& model) {
        model.setMasterStop(active);
        return true;
    });
}

double PtyPump::outflowMl(int address) const
{
    return withModels<double>(address, [](PumpModel& model) { return model.outflowMl(); });
}

QList<int> PtyPump::addresses() const
{
    std::lock_guard lock(mutex);
    QList<int> all;
    for (const Station& station : stations)
        all << station.engine->model().address();
    return all;
}

bool PtyPump::setPowered(int address, bool on)
{
    std::lock_guard lock(mutex);
    bool found = false;
    for (Station& station : stations) {
        if (station.engine->model().address() != address)
            continue;
        found = true;
        station.powered = on;
        station.engine->dropPartialFrame();
    }
    return found;
}

bool PtyPump::isPowered(int address) const
{
    std::lock_guard lock(mutex);
    return std::any_of(stations.begin(), stations.end(), [address](const Station& station) {
        return station.powered && station.engine->model().address() == address;
    });
}

QList<QByteArray> PtyPump::receivedFrames() const
{
    std::lock_guard lock(mutex);
    QList<QByteArray> frames;
    for (const ExchangeRecord& record : records)
        frames << record.frame;
    return frames;
}

QList<ExchangeRecord> PtyPump::exchanges() const
{
    std::lock_guard lock(mutex);
    return records;
}

int PtyPump::frameCount() const
{
    std::lock_guard lock(mutex);
    return framesTotal;
}

std::optional<qint64> PtyPump::msSinceLateAnswer() const
{
    std::lock_guard lock(mutex);
    if (!lateAnswerUs)
        return std::nullopt;
    return (nowUs() - *lateAnswerUs) / 1000;
}

qint64 PtyPump::msSinceLastFrame() const
{
    std::lock_guard lock(mutex);
    const qint64 nowMs = nowUs() / 1000;
    return records.isEmpty() ? nowMs : nowMs - records.last().timeMs;
}

bool PtyPump::waitForFrames(int count, int timeoutMs) const
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return framesTotal >= count; });
}

void PtyPump::clearLog()
{
    std::lock_guard lock(mutex);
    records.clear();
    framesTotal = 0;
}

void PtyPump::setLogSink(std::function<void(const QString&)> sink)
{
    std::lock_guard lock(mutex);
    logSink = std::move(sink);
}

} // namespace Simulator
