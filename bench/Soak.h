#pragma once

#include "SoakCablePulls.h"
#include "SoakReport.h"
#include "SoakRig.h"

// Soak of the main window against a simulated controller, the way an operator uses it: a real
// worker thread, the real window driven through its buttons and dialogs, and every outcome
// that the operation log reports checked against the controller's disk and the local one.
class Soak
{
public:
    explicit Soak(int simInstance);
    // Runs the soak and prints its report; 0 when it passed.
    int run();

private:
    using JobReport = SoakRig::JobReport;

    bool setUp();
    void tearDown();
    bool runCycle(int cycle);

    // Operations; each returns false only when the run cannot go on.
    bool listing(bool counted);
    bool enterFolder(const QString &name);
    bool upload(const QString &name, qint64 size, quint32 seed, bool byDrop);
    bool download(const QStringList &names, bool intoDirectory);
    bool removeRemote(const QString &name);
    bool recoverStuckListing(int mark);

    void checkResidents();

    const int m_simInstance;
    SoakReport m_report;
    SoakRig m_rig;
    SoakCablePulls m_pulls;
    QString m_currentDir; // host folder of the listed remote directory
    QByteArray m_residentDigest;
    QByteArray m_innerDigest;
};
