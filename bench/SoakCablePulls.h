#pragma once

#include "SoakRig.h"

#include <functional>

class SoakReport;

// The cables the soak pulls, each while an upload or a download is under way or on an idle
// connection: whatever the window reports of the cut transfer must be true of the controller's
// disk and of the local one, and the window must come back by itself.
class SoakCablePulls
{
public:
    enum class Pull { DuringUpload, DuringDownload, Idle };

    // listAgain refreshes the window's folder and checks what it shows.
    SoakCablePulls(SoakRig &rig, SoakReport &report, std::function<bool()> listAgain)
        : m_rig(rig), m_report(report), m_listAgain(std::move(listAgain))
    {}

    // Pulls the cable and puts it back; false when the run cannot go on.
    bool pull(Pull kind);

private:
    bool interruptedUpload();
    bool interruptedDownload();
    bool waitForLoss(int mark);
    // From the cable's return to the first listing on the new connection.
    bool waitForReconnection(int mark);
    // Pulls the cable while the transfer is under way, puts it back once the window noticed,
    // and checks what the window reported of the transfer against the copy it made, at
    // copyPath; false when the run cannot go on.
    bool cutTransfer(const QString &transfer, const QString &copy, const QString &copyPath,
                     const QByteArray &digest, int mark);

    SoakRig &m_rig;
    SoakReport &m_report;
    const std::function<bool()> m_listAgain;
};
