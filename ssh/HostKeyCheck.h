#pragma once

#include <QString>

namespace QSsh {

// What the check of the controller's host key found during one connection attempt. Keys are
// named as OpenSSH's "ssh-keygen -l" names them: type and SHA-256 fingerprint, for instance
// "ED25519 SHA256:FBpw3yLwG0s/OnFvbAVc1W6nAbXSxXJMmL0ZqnSXdrE".
struct HostKeyCheck
{
    enum Outcome {
        NotChecked,  // the attempt ended before the key exchange was complete
        Matched,     // the controller showed the key recorded for its address
        Recorded,    // a new address: its key was added to the known-hosts file
        NotRecorded, // a new address whose key could not be added (error says why)
        Refused,     // the controller showed another key than the recorded one
        FileUnusable // the known-hosts file could not be read (error says why)
    };

    Outcome outcome = NotChecked;
    QString knownHostsFile;
    QString offeredKey;  // the key the controller showed
    QString recordedKey; // Refused: the key recorded for the address
    // Refused: the file marks the key shown as revoked (recordedKey is then that key).
    bool revoked = false;
    // Refused: the line of the known-hosts file that holds the recorded (or revoked) key;
    // FileUnusable: the line that is not a known-hosts line or that this program cannot check,
    // 0 when the file itself could not be read.
    int line = 0;
    QString error;
};

} // namespace QSsh
