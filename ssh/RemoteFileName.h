#pragma once

#include <QByteArray>
#include <QString>

namespace QSsh {

// File names on the controller are bytes, normally UTF-8. A name that is not valid UTF-8 (a
// Latin-1 name from an old USB stick, say) must still name that very file when it comes back
// from the list, so each byte that is not part of valid UTF-8 is carried in the text as the
// lone surrogate U+DC80 + (byte - 0x80), and turned back into that byte on the way out.
// Valid UTF-8 never yields a lone surrogate, so the mapping is lossless both ways.

// The text of a name or path given as the controller's bytes.
QString remoteNameFromBytes(const QByteArray &bytes);

// The controller's bytes of a name or path: UTF-8, with every carried byte restored. Any
// other lone surrogate becomes U+FFFD.
QByteArray remoteNameToBytes(const QString &name);

} // namespace QSsh
