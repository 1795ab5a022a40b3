#include "brokerdialog.h"

#include "helpfiles.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

void describe(QWidget* widget, const QString& name)
{
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(BrokerDialog::Description);
    widget->setProperty(HelpFiles::pageProperty, BrokerDialog::HelpPage);
}

} // namespace

BrokerDialog::BrokerDialog(const Control::BridgeSettings& settings, QWidget* parent)
    : QDialog(parent), given(settings)
{
    setObjectName(QStringLiteral("brokerDialog"));
    setWindowTitle(QStringLiteral("MQTT broker"));
    describe(this, windowTitle());
    auto* form = new QFormLayout(this);
    broker = field(QStringLiteral("editBroker"), QStringLiteral("Broker"), settings.broker);
    broker->setPlaceholderText(QStringLiteral("mqtt://HOST:1883 or mqtts://HOST:8883; empty: off"));
    user = field(QStringLiteral("editBrokerUser"), QStringLiteral("User"), settings.user);
    password =
        field(QStringLiteral("editBrokerPassword"), QStringLiteral("Password"), settings.password);
    password->setEchoMode(QLineEdit::Password);
    authority = field(QStringLiteral("editBrokerCa"), QStringLiteral("Certificate authority"),
                      settings.caFile);
    authority->setPlaceholderText(QStringLiteral("the system's"));
    node = field(QStringLiteral("editBrokerNode"), QStringLiteral("Node"), settings.node);
    node->setPlaceholderText(Control::BridgeSettings{}.nodeName());
    commands = new QCheckBox(QStringLiteral("Take commands from the broker"), this);
    commands->setObjectName(QStringLiteral("checkBrokerCommands"));
    commands->setChecked(settings.commands);
    describe(commands, commands->text());
    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("labelBrokerProblem"));
    describe(problem, QStringLiteral("Problem"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    for (QAbstractButton* button : buttons->buttons())
        describe(button, button->text().remove(u'&'));
    connect(buttons, &QDialogButtonBox::accepted, this, &BrokerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &BrokerDialog::reject);
    for (QLineEdit* edit : {broker, user, password, authority, node})
        form->addRow(edit->accessibleName(), edit);
    form->addRow(commands);
    form->addRow(problem);
    form->addRow(buttons);
}

QLineEdit* BrokerDialog::field(const QString& objectName, const QString& name, const QString& text)
{
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(objectName);
    describe(edit, name);
    return edit;
}

Control::BridgeSettings BrokerDialog::settings() const
{
    Control::BridgeSettings edited = given;
    edited.broker = broker->text().trimmed();
    edited.user = user->text().trimmed();
    edited.password = password->text();
    edited.caFile = authority->text().trimmed();
    edited.node = node->text().trimmed();
    edited.commands = commands->isChecked();
    return edited;
}

void BrokerDialog::accept()
{
    const Control::BridgeSettings edited = settings();
    QString error;
    if (!edited.broker.isEmpty())
        edited.clientOptions(0, &error);
    problem->setText(error);
    if (error.isEmpty())
        QDialog::accept();
}
