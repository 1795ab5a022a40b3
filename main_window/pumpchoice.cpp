// The window's part in working with several pumps: the list beside the panel, choosing the pump
// the panel shows, adding pumps, and Stop all.
#include "mainform.h"

#include "commandtable.h"
#include "communication.h"
#include "pumpfleet.h"
#include "pumpsearch.h"
#include "pumpspanel.h"
#include "readings.h"
#include "runrecorder.h"
#include "runview.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

namespace Table = BusinessLogic::CommandTable;

void mainForm::setupPumps()
{
    fleet = std::make_unique<Control::PumpFleet>(*panelSession);
    fleet->setLine(chosenLine);
    // With a list, every pump keeps its own rows in the window's record; the window's own
    // recorder then only draws the shown pump's run and writes the notes.
    fleet->keepRecords(run->recorder().folder(), run->recorder().copyName());
    GUI::PumpRoster& roster = fleet->roster();
    const auto recordsElsewhere = [this] {
        run->recorder().setRowsElsewhere(fleet->roster().count() > 0);
    };
    connect(&roster, &GUI::PumpRoster::added, this, recordsElsewhere);
    connect(&roster, &GUI::PumpRoster::removed, this, recordsElsewhere);
    roster.load(*settings, settingsPrefix());
    const auto store = [this] { fleet->roster().save(*settings, settingsPrefix()); };
    connect(&roster, &GUI::PumpRoster::added, this, store);
    connect(&roster, &GUI::PumpRoster::renamed, this, store);
    connect(&roster, &GUI::PumpRoster::removed, this, store);
    fleet->setPanelAddress(chosenAddress());
    setDataUpdate();

    pumps = new PumpsPanel(*fleet, this);
    ui.gridLayout_2->addWidget(pumps, 0, 1, ui.gridLayout_2->rowCount(), 1);
    connect(pumps, &PumpsPanel::pumpChosen, this, &mainForm::showPump);
    connect(pumps, &PumpsPanel::shownPumpKey, this, [this](int spezifier) {
        if (spezifier == Table::start.spezifier)
            ui.buttonStart->click();
        else if (spezifier == Table::pause.spezifier)
            ui.buttonPause->click();
        else
            ui.buttonStop->click();
    });
    connect(pumps, &PumpsPanel::addWanted, this, &mainForm::addPumpByHand);
    connect(pumps, &PumpsPanel::stopAllWanted, this, &mainForm::stopAllPumps);
    connect(search, &GUI::PumpSearch::finished, this, &mainForm::offerFoundPumps);
    // Always there, whether the list is shown or not, and from the panel's other windows too.
    auto* stopAll = new QShortcut(PumpsPanel::StopAllKeys, this);
    stopAll->setContext(Qt::ApplicationShortcut);
    connect(stopAll, &QShortcut::activated, this, &mainForm::stopAllPumps);
    pumps->markShown(fleet->panelPump());
}

QString mainForm::shownPumpName() const
{
    const std::optional<int> row = fleet ? fleet->panelPump() : std::nullopt;
    return row ? fleet->roster().at(*row).name : QString();
}

void mainForm::showPump(int row)
{
    const GUI::PumpEntry& pump = fleet->roster().at(row);
    // A pump on another line: the panel takes that line over, the fleet the panel's old one.
    if (pump.port != fleet->linePath()) {
        // The list lets go of the line before the panel opens it.
        fleet->setLine(pump.port);
        ui.listWidgetComPorts->addExtraPort(pump.port);
        ui.listWidgetComPorts->selectPort(pump.port);
    } else if (pump.address == chosenAddress()) {
        return;
    }
    // The curve drawn so far was the other pump's.
    run->chart().clear();
    ui.comboCommAddress->setCurrentIndex(pump.address);
    launchCmdSetCommAddress(pump.address);
    // What the panel showed was the other pump's: its identity is asked for anew.
    items.modelVersion.forget();
    queueProbe();
}

void mainForm::stopAllPumps()
{
    // The shown pump as by its own Stop, so that its record and buttons say so; the others
    // right behind it, ahead of every reading.
    ui.buttonStop->click();
    fleet->stopAll(false);
}

void mainForm::addPumpByHand()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dialogAddPump"));
    dialog.setWindowTitle(QStringLiteral("Add a pump"));
    auto* name = new QLineEdit(&dialog);
    name->setObjectName(QStringLiteral("lineEditPumpName"));
    auto* port = new QLineEdit(fleet->linePath(), &dialog);
    port->setObjectName(QStringLiteral("lineEditPumpPort"));
    auto* address = new QSpinBox(&dialog);
    address->setObjectName(QStringLiteral("spinPumpAddress"));
    // One past the highest, so that a wrong number is refused in words rather than clamped.
    address->setRange(0, Engine::SearchedAddresses);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Name"), name);
    form->addRow(QStringLiteral("Line"), port);
    form->addRow(QStringLiteral("Address"), address);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return;
    addPump(port->text().trimmed(), address->value(), name->text());
}

QString mainForm::addPump(const QString& port, int address, const QString& name)
{
    // The pump the panel shows comes first, so that the list holds it whatever is added.
    if (fleet->roster().count() == 0 && address != chosenAddress())
        fleet->add(fleet->linePath(), chosenAddress());
    const QString refusal = fleet->add(port, address, name);
    pumps->note(refusal.isEmpty() ? QString() : QStringLiteral("Not added: %1.").arg(refusal));
    pumps->markShown(fleet->panelPump());
    return refusal;
}

void mainForm::offerFoundPumps(const QList<int>& addresses)
{
    // Polling and the display come back once every address has been asked.
    endSearch();
    const QString line = fleet->linePath();
    QList<int> fresh;
    for (int address : addresses) {
        if (!fleet->roster().indexOf(line, address))
            fresh.append(address);
    }
    // One pump found and none listed: the panel works with it as ever, no list needed.
    if (fresh.isEmpty() || (addresses.size() == 1 && fleet->roster().count() == 0))
        return;
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dialogPumpsFound"));
    dialog.setWindowTitle(QStringLiteral("Pumps found"));
    auto* found = new QListWidget(&dialog);
    found->setObjectName(QStringLiteral("listPumpsFound"));
    for (int address : fresh) {
        auto* item = new QListWidgetItem(QStringLiteral("Address %1").arg(address), found);
        item->setData(Qt::UserRole, address);
        item->setCheckState(Qt::Checked);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("These pumps answered on %1. Add the checked "
                                                "ones to the list of pumps?")
                                     .arg(line),
                                 &dialog));
    layout->addWidget(found);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return;
    for (int i = 0; i < found->count(); ++i) {
        if (found->item(i)->checkState() == Qt::Checked)
            addPump(line, found->item(i)->data(Qt::UserRole).toInt());
    }
}
