#include "protocolpanel.h"
#include "runrecorder.h"
#include "runview.h"
#include "windowrig.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

// The "Protocol" tab as a user works it: a file typed in and checked, run on the panel's pump or
// tried on a simulated one, answered, aborted, held by a lost line; every step in the run record.
class TestProtocolPanel : public QObject
{
    Q_OBJECT

private slots:
    void protocol_data();
    void protocol();
};

namespace {

constexpr int GiveUpMs = 30000;

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

QMessageBox* question(WindowRig& rig)
{
    return rig.window->findChild<QMessageBox*>(QStringLiteral("protocolQuestion"));
}

QAbstractButton* answerButton(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == text)
            return button;
    qFatal("no answer \"%s\"", qPrintable(text));
}

// The lines of the run record's file of today.
QStringList recordLines(WindowRig& rig)
{
    QFile file(rig.window->runPanel().recorder().currentFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
}

// Each pattern matches a line of the record, in the given order.
bool recordHasInOrder(const QStringList& lines, const QStringList& patterns, QString* missing)
{
    int at = 0;
    for (const QString& pattern : patterns) {
        const QRegularExpression expression(pattern);
        while (at < lines.size() && !expression.match(lines.at(at)).hasMatch())
            ++at;
        if (at == lines.size()) {
            *missing = pattern;
            return false;
        }
        ++at;
    }
    return true;
}

} // namespace

void TestProtocolPanel::protocol_data()
{
    QTest::addColumn<QString>("yaml"); // empty: the documented example
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("state"); // the state line at the end
    QTest::addColumn<QStringList>("record");
    QTest::addColumn<QByteArrayList>("sent"); // what set or moved the panel's pump, in order
    const QString head = "dosedesk-protocol: 1\nname: t\npump: 0\nsteps:\n";
    QTest::newRow("the example tried on a simulated pump")
        << QString() << "dry"
        << "^Dry run: protocol \"Feed three bottles\" done: 12 steps$"
        << QStringList{"dry run: protocol \"\"Feed three bottles\"\" begins: 12 steps",
                       "dry run: step 1 of 12 \\(line 5: prime 5 s\\) begins", "dry run: start",
                       "dry run: asks: Replace the bottle, then continue",
                       "dry run: step 12 of 12 .* done"}
        << QByteArrayList{};
    QTest::newRow("run on the panel's pump, every step in the record")
        << head
               + "  - prime: {seconds: 0.2}\n  - dose: {volume_ml: 0.5, flow_ml_min: 100}\n"
                 "  - note: dosed\n  - stop: {}\n"
        << "run"
        << "^protocol \"t\" done: 4 steps$"
        << QStringList{"protocol \"\"t\"\" begins: 4 steps",
                       "step 1 of 4 .* begins",
                       "step 2 of 4 \\(line 6: dose 0.5 ml at 100 ml/min\\) begins",
                       "step 2 of 4 .* done",
                       "note: dosed",
                       "step 4 of 4 .* done",
                       "protocol \"\"t\"\" done"}
        << QByteArrayList{"00KY2", "00KY0", "00KY1", "00KY0"};
    QTest::newRow("abort stops the pump")
        << head + "  - set: {mode: flow, flow_ml_min: 10}\n  - start: {}\n  - wait: {seconds: 60}\n"
        << "abort"
        << "^STOPPED: aborted at step 3 of 3 .*; the pump it started is stopped$"
        << QStringList{"step 3 of 3 .* begins", "aborted at step 3 of 3"}
        << QByteArrayList{"00RV00010000", "00KY1", "00KY0"};
    QTest::newRow("a lost line holds the step until the pump answers again")
        << head
               + "  - set: {mode: flow, flow_ml_min: 20}\n  - start: {}\n"
                 "  - wait: {volume_ml: 1}\n  - stop: {}\n"
        << "unplug"
        << "^protocol \"t\" done: 4 steps$"
        << QStringList{"step 3 of 4 .* held: wait: ", "step 3 of 4 .* repeated after the hold",
                       "step 4 of 4 .* done"}
        << QByteArrayList{"00KY1", "00KY0"};
    QTest::newRow("a wrong file is refused with its place")
        << head + "  - dose: {volume: 5}\n"
        << "wrong"
        << "^$" << QStringList{} << QByteArrayList{};
}

void TestProtocolPanel::protocol()
{
    QFETCH(QString, yaml);
    QFETCH(QString, action);
    QFETCH(QString, state);
    QFETCH(QStringList, record);
    QFETCH(QByteArrayList, sent);
    WindowRig rig(action == "unplug" ? WindowRig::onRealLine() : WindowRig::Options());
    QString path = QStringLiteral(DOSEDESK_PROTOCOLS "/feed-three-bottles.yaml");
    if (!yaml.isEmpty()) {
        path = rig.folder.filePath("p.yaml");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(yaml.toUtf8());
    }
    QWidget* window = rig.window.get();
    // The settings open beside the panel, and the tab is chosen.
    QVERIFY(rig.waitUntil([&] { return window->isVisible(); }) >= 0);
    click(rig.ui().buttonAdvanced);
    QVERIFY(rig.ui().TabsExtendedSettings->isVisible());
    rig.ui().TabsExtendedSettings->setCurrentWidget(child<QWidget>(window, "TabProtocol"));
    auto* field = child<QLineEdit>(window, "editProtocolFile");
    QTest::keyClicks(field, path);
    QTest::keyClick(field, Qt::Key_Return);
    const QString summary = child<QLabel>(window, "labelProtocolSummary")->text();
    auto* run = child<QPushButton>(window, "buttonProtocolRun");
    if (action == "wrong") {
        QVERIFY2(summary.contains("p.yaml:5:12: unknown key \"volume\" in dose"),
                 qPrintable(summary));
        QVERIFY(!run->isEnabled());
        QVERIFY(!child<QPushButton>(window, "buttonProtocolDryRun")->isEnabled());
        QCOMPARE(rig.commandBodies(), QList<QByteArray>());
        return;
    }
    QVERIFY2(summary.contains("steps for the pump at address 0"), qPrintable(summary));
    QCOMPARE(child<QListWidget>(window, "listProtocolSteps")->count() > 0, true);
    if (action == "unplug")
        QVERIFY(rig.waitUntil([&] { return rig.showsConnected(); }, GiveUpMs) >= 0);
    click(action == "dry" ? child<QPushButton>(window, "buttonProtocolDryRun") : run);
    auto* stateLine = child<QLabel>(window, "labelProtocolState");
    const QRegularExpression finished(state);
    bool unplugged = false;
    const auto abortDue = [&] {
        return action == "abort" && stateLine->text().startsWith("running step 3 of 3");
    };
    const auto unplugDue = [&] {
        // Three seconds before the wait can end.
        return action == "unplug" && !unplugged
               && stateLine->text().startsWith("running step 3 of 4");
    };
    while (!finished.match(stateLine->text()).hasMatch()) {
        QVERIFY2(rig.waitUntil(
                     [&] {
                         return finished.match(stateLine->text()).hasMatch() || question(rig)
                                || abortDue() || unplugDue();
                     },
                     GiveUpMs)
                     >= 0,
                 qPrintable(stateLine->text()));
        if (abortDue()) {
            click(child<QPushButton>(window, "buttonProtocolAbort"));
            action.clear();
        } else if (unplugDue()) {
            QVERIFY(rig.pump.unplug());
            unplugged = true;
        } else if (QMessageBox* box = question(rig)) {
            if (action == "unplug") {
                // Going on waits for the pump.
                QVERIFY2(!answerButton(box, "Repeat the step")->isEnabled(),
                         qPrintable(box->text()));
                QVERIFY(rig.pump.replug());
                QVERIFY(
                    rig.waitUntil([&] { return answerButton(box, "Repeat the step")->isEnabled(); },
                                  GiveUpMs)
                    >= 0);
                action.clear();
                click(answerButton(box, "Repeat the step"));
            } else {
                click(answerButton(box, "Continue"));
            }
            QVERIFY(rig.waitUntil([&] { return !question(rig); }) >= 0);
        }
    }
    QVERIFY(!child<QPushButton>(window, "buttonProtocolAbort")->isEnabled());
    QString missing;
    QVERIFY2(recordHasInOrder(recordLines(rig), record, &missing),
             qPrintable(missing + " not in the record, which ends\n"
                        + recordLines(rig).mid(recordLines(rig).size() - 8).join(u'\n')));
    const QList<QByteArray> wrote = rig.commandBodies();
    int at = 0;
    for (const QByteArray& body : sent) {
        at = int(wrote.indexOf(body, at));
        QVERIFY2(at >= 0, QByteArray(body + " not in " + wrote.join(' ')).constData());
        ++at;
    }
    if (sent.isEmpty())
        QCOMPARE(wrote, QList<QByteArray>());
}

QTEST_MAIN(TestProtocolPanel)
#include "tst_protocolpanel.moc"
