#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QListWidget;
class QPushButton;

// The address book in the login dialog: the controllers, most recent first, as "Mill 2
// (10.0.0.5)", and Add…, Rename…, Remove and Profile… (the machine's limits). A click on one
// proposes its address, a double click connects to it. Add takes the address typed in the dialog
// and asks for a name.
//
// Object names: "addressBookList", "addControllerButton", "renameControllerButton",
// "removeControllerButton", "profileButton".
class AddressBookPanel : public QWidget
{
    Q_OBJECT
public:
    // typedAddress gives the address in the dialog's field; isEnglish the dialog's language.
    AddressBookPanel(std::function<QString()> typedAddress, std::function<bool()> isEnglish,
                     QWidget *parent = nullptr);

    // Reads the book again and selects the entry of address, if there is one.
    void reload(const QString &address);
    QString selectedAddress() const;

signals:
    void addressChosen(const QString &address);
    void connectRequested(const QString &address);

private:
    QString text(const QString &english, const QString &chinese) const
    {
        return m_isEnglish() ? english : chinese;
    }
    void onAdd();
    void onRename();
    // Asks for the name of address and makes the change with it.
    using NameChange = std::function<bool(const QString &name, const QString &address, QString *)>;
    void nameEntry(const QString &address, const QString &title, const QString &proposed,
                   const NameChange &change);
    void onRemove();
    void onProfile();
    void updateButtons();
    void showFailure(const QString &error);

    const std::function<QString()> m_typedAddress;
    const std::function<bool()> m_isEnglish;
    QListWidget *const m_list;
    QPushButton *const m_addButton;
    QPushButton *const m_renameButton;
    QPushButton *const m_removeButton;
    QPushButton *const m_profileButton;
};
