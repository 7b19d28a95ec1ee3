#include "AddressBookPanel.h"

#include "AddressBook.h"
#include "MachineProfileDialog.h"

#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kAddressRole = Qt::UserRole;

QPushButton *makeButton(const QString &objectName, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false); // Enter still presses Connect
    return button;
}

} // namespace

AddressBookPanel::AddressBookPanel(std::function<QString()> typedAddress,
                                   std::function<bool()> isEnglish, QWidget *parent)
    : QWidget(parent), m_typedAddress(std::move(typedAddress)), m_isEnglish(std::move(isEnglish)),
      m_list(new QListWidget(this)),
      m_addButton(makeButton(QStringLiteral("addControllerButton"), this)),
      m_renameButton(makeButton(QStringLiteral("renameControllerButton"), this)),
      m_removeButton(makeButton(QStringLiteral("removeControllerButton"), this)),
      m_profileButton(makeButton(QStringLiteral("profileButton"), this))
{
    m_list->setObjectName(QStringLiteral("addressBookList"));
    m_addButton->setText(text(QStringLiteral("Add…"), QStringLiteral("添加…")));
    m_renameButton->setText(text(QStringLiteral("Rename…"), QStringLiteral("重命名…")));
    m_removeButton->setText(text(QStringLiteral("Remove"), QStringLiteral("删除")));
    m_profileButton->setText(text(QStringLiteral("Profile…"), QStringLiteral("机床参数…")));

    // Two by two: the narrow login dialog has no room for four in a row.
    auto *buttons = new QGridLayout;
    buttons->addWidget(m_addButton, 0, 0);
    buttons->addWidget(m_renameButton, 0, 1);
    buttons->addWidget(m_removeButton, 1, 0);
    buttons->addWidget(m_profileButton, 1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        new QLabel(text(QStringLiteral("Controllers:"), QStringLiteral("控制器:")), this));
    layout->addWidget(m_list);
    layout->addLayout(buttons);

    connect(m_list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        updateButtons();
        if (item)
            emit addressChosen(item->data(kAddressRole).toString());
    });
    connect(m_list, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        emit connectRequested(item->data(kAddressRole).toString());
    });
    connect(m_addButton, &QPushButton::clicked, this, &AddressBookPanel::onAdd);
    connect(m_renameButton, &QPushButton::clicked, this, &AddressBookPanel::onRename);
    connect(m_removeButton, &QPushButton::clicked, this, &AddressBookPanel::onRemove);
    connect(m_profileButton, &QPushButton::clicked, this, &AddressBookPanel::onProfile);
}

void AddressBookPanel::reload(const QString &address)
{
    QString error;
    const QVector<ControllerEntry> entries = AddressBook::entries(&error);
    const QSignalBlocker quiet(m_list); // the field keeps what it holds
    m_list->clear();
    for (const ControllerEntry &entry : entries) {
        auto *item = new QListWidgetItem(AddressBook::displayName(entry), m_list);
        item->setData(kAddressRole, entry.address);
        item->setToolTip(entry.address);
        if (entry.address == address)
            m_list->setCurrentItem(item);
    }
    updateButtons();
    if (!error.isEmpty())
        showFailure(error);
}

QString AddressBookPanel::selectedAddress() const
{
    const QListWidgetItem *item = m_list->currentItem();
    return item ? item->data(kAddressRole).toString() : QString();
}

void AddressBookPanel::updateButtons()
{
    const bool selected = m_list->currentItem() != nullptr;
    m_renameButton->setEnabled(selected);
    m_removeButton->setEnabled(selected);
    m_profileButton->setEnabled(selected);
}

void AddressBookPanel::onAdd()
{
    const QString address = m_typedAddress().trimmed();
    if (address.isEmpty()) {
        showFailure(text(QStringLiteral("Type the controller's address first."),
                         QStringLiteral("请先输入控制器的地址。")));
        return;
    }
    nameEntry(address, text(QStringLiteral("Add Controller"), QStringLiteral("添加控制器")),
              address, &AddressBook::add);
}

void AddressBookPanel::onRename()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    const QString address = item->data(kAddressRole).toString();
    const QString current = AddressBook::nameOf(address);
    nameEntry(address, text(QStringLiteral("Rename Controller"), QStringLiteral("重命名控制器")),
              current.isEmpty() ? address : current,
              [](const QString &name, const QString &address, QString *error) {
                  return AddressBook::rename(address, name, error);
              });
}

void AddressBookPanel::nameEntry(const QString &address, const QString &title,
                                 const QString &proposed, const NameChange &change)
{
    bool ok = false;
    const QString name = QInputDialog::getText(
        this, title, text(QStringLiteral("Name of %1:"), QStringLiteral("%1 的名称:")).arg(address),
        QLineEdit::Normal, proposed, &ok);
    if (!ok)
        return;
    QString error;
    if (!change(name, address, &error))
        showFailure(error);
    reload(address);
}

void AddressBookPanel::onRemove()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    const QString address = item->data(kAddressRole).toString();
    const auto answer = QMessageBox::question(
        this, text(QStringLiteral("Remove Controller"), QStringLiteral("删除控制器")),
        text(QStringLiteral("Remove %1 and its machine profile from the address book?"),
             QStringLiteral("从地址簿中删除 %1 及其机床参数？"))
            .arg(item->text()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    QString error;
    if (!AddressBook::remove(address, &error))
        showFailure(error);
    reload(QString());
}

void AddressBookPanel::onProfile()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    const QString address = item->data(kAddressRole).toString();
    MachineProfileDialog dialog(item->text(), AddressBook::profileOf(address), m_isEnglish(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString error;
    if (!AddressBook::setProfile(address, dialog.profile(), &error))
        showFailure(error);
}

void AddressBookPanel::showFailure(const QString &error)
{
    QMessageBox box(
        QMessageBox::Warning, text(QStringLiteral("Address Book"), QStringLiteral("地址簿")),
        text(QStringLiteral("The address book was not changed."), QStringLiteral("地址簿未修改。")),
        QMessageBox::Ok, this);
    box.setInformativeText(error);
    box.exec();
}
