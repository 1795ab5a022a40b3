#pragma once

#include "allcommands.h"
#include "communication.h"
#include "constants.h"
#include "instancenumber.h"
#include "loggingcommandstack.h"
#include "mainform.h"
#include "ptypump.h"
#include "refreshtimer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

#include <memory>
#include <vector>

// The program's object graph around one window, built in the program's order, talking to a
// simulated pump on a pseudo-terminal (served by its own thread, answering at once).
class WindowRig
{
public:
    struct Options
    {
        int pumpAddress = 0;
        bool withPump = true;
        bool polling = false; // off: only what the window's controls send reaches the pump
        QStringList extraPorts;
        bool freshSettings = true; // forget this copy's stored port and address first
    };

    explicit WindowRig(const Options& options)
        : pump(pumpOptions(options.pumpAddress))
    {
        // A fresh rig starts like a first start of this copy: no stored port, address 0.
        if (options.freshSettings)
            QSettings(Constants::OrganisationName, Constants::ApplicationName)
                .remove(Constants::InstanceKeyPrefix + QString::number(instanceNumber()));
        QStringList ports = options.extraPorts;
        if (options.withPump && pump.start())
            ports.prepend(pump.devicePath());
        commands = BusinessLogic::createAllCommands(&communication);
        window = std::make_unique<mainForm>(&stack, &table, qApp, &refresher, &communication,
                                            ports);
        for (const auto& command : commands)
            window->attachCommand(command.get());
        if (!options.polling)
            ui().checkboNoDataUpdate->setChecked(true);
        window->startCommunication();
        // The communication check of the start goes to address 0; what follows is the test's.
        if (pump.isRunning() && waitForBody("00?SI"))
            pump.clearLog();
    }
    WindowRig() : WindowRig(Options()) {}

    // A window whose line leads nowhere.
    static Options withoutPump()
    {
        Options options;
        options.withPump = false;
        return options;
    }

    Ui::mainScreen& ui() { return window->form(); }

    // The text between the address digits' STX and ETX of every frame the pump received.
    QList<QByteArray> bodies() const
    {
        QList<QByteArray> result;
        for (const QByteArray& frame : pump.receivedFrames())
            result.append(frame.mid(1, frame.size() - 3));
        return result;
    }

    // Waits until the pump has received a frame with this body; true when it came in time.
    bool waitForBody(const QByteArray& body, int timeoutMs = 5000)
    {
        QElapsedTimer waited;
        waited.start();
        while (!bodies().contains(body)) {
            if (waited.elapsed() > timeoutMs)
                return false;
            QTest::qWait(5);
        }
        return true;
    }

    // Everything the pump received up to a marker queued behind whatever is queued now, so that
    // a command that should not have been sent cannot still be on its way.
    QList<QByteArray> bodiesUntilMarker()
    {
        const QByteArray marker =
            window->form().comboCommAddress->currentText().rightJustified(2, u'0').toLatin1()
            + "?SV";
        stack.addCommand(table.at(45), 0, false);
        if (!waitForBody(marker))
            return {QByteArrayLiteral("<marker never arrived>")};
        QList<QByteArray> received = bodies();
        received.resize(received.lastIndexOf(marker));
        return received;
    }

    Simulator::PtyPump pump;
    Communication communication;
    std::vector<std::unique_ptr<BusinessLogic::Command>> commands;
    BusinessLogic::LoggingCommandStack stack;
    std::vector<BusinessLogic::Command*> table =
        std::vector<BusinessLogic::Command*>(BusinessLogic::CommandTableSize, nullptr);
    GUI::RefreshTimer refresher{&stack, &table};
    std::unique_ptr<mainForm> window;

private:
    static Simulator::PtyPump::Options pumpOptions(int address)
    {
        Simulator::PtyPump::Options options;
        options.address = address;
        options.pacing = false;
        options.turnaroundMs = 0;
        return options;
    }
};
