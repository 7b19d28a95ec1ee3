#pragma once

#include "MachineProfile.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;

// Edits a controller's machine profile: the travel of X, Y and Z, the rates, the acceleration
// and the units, each field left empty where it is not known. OK takes only a profile that
// makes sense (numbers, a minimum below its maximum, rates above zero); otherwise the dialog
// says what is wrong and stays open.
//
// Object names: "xMin", "xMax", "yMin", "yMax", "zMin", "zMax", "maxFeedRate", "rapidRate",
// "acceleration", "junctionSpeed", "units", "profileError".
class MachineProfileDialog : public QDialog
{
    Q_OBJECT
public:
    MachineProfileDialog(const QString &controller, const MachineProfile &profile, bool english,
                         QWidget *parent = nullptr);

    MachineProfile profile() const { return m_profile; }

    void accept() override;

private:
    QString text(const QString &english, const QString &chinese) const
    {
        return m_english ? english : chinese;
    }
    QLineEdit *addField(const char *objectName, std::optional<double> value);
    // The profile the fields describe; empty with the reason when they describe none.
    std::optional<MachineProfile> read(QString *error) const;

    const bool m_english;
    MachineProfile m_profile;
    QLineEdit *m_travel[3][2] = {};
    QLineEdit *m_maxFeedRate = nullptr;
    QLineEdit *m_rapidRate = nullptr;
    QLineEdit *m_acceleration = nullptr;
    QLineEdit *m_junctionSpeed = nullptr;
    QComboBox *m_units = nullptr;
    QLabel *m_error = nullptr;
};
