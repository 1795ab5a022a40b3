#include "pumpspanel.h"

#include "commandtable.h"
#include "helpfiles.h"
#include "pumpfleet.h"
#include "runview.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace Table = BusinessLogic::CommandTable;

const QString PumpsPanel::Description = QStringLiteral(
    "The pumps of this panel: choose a row to show and control that pump; Stop all stops every "
    "pump at once.");
const QString PumpsPanel::HelpPage = QStringLiteral("pumps.html");
const QKeySequence PumpsPanel::StopAllKeys = QKeySequence(QStringLiteral("Ctrl+Shift+S"));

namespace {

const QStringList Headers = {QStringLiteral("Name"),         QStringLiteral("Line, address"),
                             QStringLiteral("Model"),        QStringLiteral("Connection"),
                             QStringLiteral("State"),        QStringLiteral("Flow ml/min"),
                             QStringLiteral("Delivered ml"), QStringLiteral("Run")};

QString shownNumber(const QJsonValue& value)
{
    return value.isUndefined() ? QString() : QLocale::c().toString(value.toDouble(), 'f', 3);
}

} // namespace

PumpsPanel::PumpsPanel(Control::PumpFleet& fleet, QWidget* parent)
    : QGroupBox(QStringLiteral("Pumps"), parent), fleet(fleet), rows(new QTableWidget(this)),
      noteLine(new QLabel(this))
{
    setObjectName(QStringLiteral("groupPumps"));
    setProperty(HelpFiles::pageProperty, HelpPage);
    rows->setObjectName(QStringLiteral("tablePumps"));
    rows->setAccessibleName(QStringLiteral("Pumps"));
    rows->setAccessibleDescription(Description);
    rows->setColumnCount(Columns);
    rows->setHorizontalHeaderLabels(Headers);
    rows->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows->setSelectionMode(QAbstractItemView::SingleSelection);
    rows->verticalHeader()->hide();
    rows->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    noteLine->setObjectName(QStringLiteral("labelPumpsNote"));
    noteLine->setWordWrap(true);

    QPushButton* add = helpedButton(this, QStringLiteral("buttonAddPump"),
                                    QStringLiteral("Add pump…"), Description, HelpPage);
    QPushButton* stopAll = helpedButton(this, QStringLiteral("buttonStopAll"),
                                        QStringLiteral("Stop all"), Description, HelpPage);
    stopAll->setToolTip(StopAllKeys.toString(QKeySequence::NativeText));
    QPushButton* remove = helpedButton(this, QStringLiteral("buttonRemovePump"),
                                       QStringLiteral("Remove"), Description, HelpPage);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(stopAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rows, 1);
    layout->addWidget(noteLine);
    layout->addLayout(buttons);

    connect(add, &QPushButton::clicked, this, &PumpsPanel::addWanted);
    // The chosen row leaves the list; the pump itself is not touched.
    connect(remove, &QPushButton::clicked, this, [this] {
        const QModelIndexList chosen = rows->selectionModel()->selectedRows();
        if (!chosen.isEmpty())
            this->fleet.roster().remove(chosen.first().row());
    });
    connect(stopAll, &QPushButton::clicked, this, &PumpsPanel::stopAllWanted);
    connect(rows, &QTableWidget::cellClicked, this, [this](int row) { emit pumpChosen(row); });
    connect(rows, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!filling && item->column() == Name)
            this->fleet.roster().rename(item->row(), item->text());
    });
    GUI::PumpRoster& roster = fleet.roster();
    connect(&roster, &GUI::PumpRoster::added, this, &PumpsPanel::addRow);
    connect(&roster, &GUI::PumpRoster::removed, this, [this](int row) {
        rows->removeRow(row);
        showOrHide();
    });
    connect(&fleet, &Control::PumpFleet::rowChanged, this, &PumpsPanel::showRow);
    connect(&fleet, &Control::PumpFleet::verdict, this,
            [this](int, const QString& text) { note(text); });
    for (int row = 0; row < roster.count(); ++row)
        addRow(row);
    showOrHide();
}

void PumpsPanel::note(const QString& text)
{
    noteLine->setText(text);
}

void PumpsPanel::markShown(std::optional<int> row)
{
    if (row)
        rows->selectRow(*row);
    else
        rows->clearSelection();
}

void PumpsPanel::addRow(int row)
{
    rows->insertRow(row);
    const QSignalBlocker quiet(rows);
    for (int column = 0; column < Keys; ++column) {
        auto* item = new QTableWidgetItem;
        if (column != Name)
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        rows->setItem(row, column, item);
    }
    rows->setCellWidget(row, Keys, keysFor(row));
    showRow(row);
    showOrHide();
}

QWidget* PumpsPanel::keysFor(int row)
{
    auto* keys = new QWidget(rows);
    auto* layout = new QHBoxLayout(keys);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const auto& [key, name] : Control::PumpFleet::RunKeys) {
        const QString text = QLatin1String(name);
        auto* button = new QToolButton(keys);
        button->setText(text);
        button->setObjectName(QStringLiteral("button%1Row%2").arg(text).arg(row));
        layout->addWidget(button);
        const BusinessLogic::CommandTraits* traits = key;
        // The row's index is looked up at the click: rows above it may have gone since.
        connect(button, &QToolButton::clicked, this, [this, keys, traits] {
            const int at = rows->indexAt(keys->pos()).row();
            if (at < 0)
                return;
            if (fleet.panelPump() == at)
                emit shownPumpKey(traits->spezifier);
            else
                fleet.runKey(at, *traits);
        });
    }
    return keys;
}

void PumpsPanel::showRow(int row)
{
    const GUI::PumpEntry& pump = fleet.roster().at(row);
    const Control::PumpState& state = fleet.state(row);
    const QJsonObject values = state.toJson();
    const QString model = state.modelName().isEmpty()
                              ? QString()
                              : QStringLiteral("%1 %2").arg(state.modelName(), state.firmware());
    const QString texts[Keys] = {pump.name,
                                 QStringLiteral("%1, %2").arg(pump.port).arg(pump.address),
                                 model,
                                 fleet.connection(row),
                                 state.runState(),
                                 shownNumber(values.value(QStringLiteral("flow_ml_min"))),
                                 shownNumber(values.value(QStringLiteral("delivered_ml")))};
    filling = true;
    for (int column = 0; column < Keys; ++column) {
        QTableWidgetItem* item = rows->item(row, column);
        if (item && item->text() != texts[column])
            item->setText(texts[column]);
    }
    filling = false;
}

void PumpsPanel::showOrHide()
{
    setVisible(fleet.roster().count() > 1);
}
