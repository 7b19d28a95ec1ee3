#include "HistoryFormat.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cmath>
#include <utility>

namespace HistoryFormat {

namespace {

using Operation = HistoryEvent::Operation;
using Outcome = HistoryEvent::Outcome;

const std::array<std::pair<Operation, const char *>, 6> kOperations = {{
    {Operation::Upload, "upload"},
    {Operation::Download, "download"},
    {Operation::Delete, "delete"},
    {Operation::NewFolder, "newFolder"},
    {Operation::Rename, "rename"},
    {Operation::Verify, "verify"},
}};

const std::array<std::pair<Outcome, const char *>, 7> kOutcomes = {{
    {Outcome::Succeeded, "succeeded"},
    {Outcome::Failed, "failed"},
    {Outcome::Cancelled, "cancelled"},
    {Outcome::Verified, "verified"},
    {Outcome::Mismatch, "mismatch"},
    {Outcome::Unverified, "unverified"},
    {Outcome::Sent, "sent"},
}};

template <typename Value, std::size_t N>
QString keyOf(const std::array<std::pair<Value, const char *>, N> &table, Value value)
{
    for (const auto &entry : table) {
        if (entry.first == value)
            return QString::fromLatin1(entry.second);
    }
    return QString();
}

template <typename Value, std::size_t N>
bool valueOf(const std::array<std::pair<Value, const char *>, N> &table, const QJsonValue &key,
             Value *value)
{
    for (const auto &entry : table) {
        if (key.toString() == QLatin1String(entry.second)) {
            *value = entry.first;
            return true;
        }
    }
    return false;
}

// The escape of one UTF-16 unit, or nothing when it goes into the line as it is. Besides what
// JSON demands, U+2028 and U+2029 are escaped (line breaks to some readers) and so is every
// lone surrogate, which UTF-8 cannot hold.
QString escaped(const QString &text, int i)
{
    const QChar c = text.at(i);
    switch (c.unicode()) {
    case '"':
        return QStringLiteral("\\\"");
    case '\\':
        return QStringLiteral("\\\\");
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    case '\t':
        return QStringLiteral("\\t");
    default:
        break;
    }
    const bool pairStart =
        c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
    const bool pairEnd = c.isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate();
    if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0x2028 ||
        c.unicode() == 0x2029 || (c.isSurrogate() && !pairStart && !pairEnd))
        return QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return QString();
}

// A JSON string literal; the characters between two escapes are copied in one piece.
QString quoted(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    int copied = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QString escape = escaped(text, i);
        if (escape.isEmpty())
            continue;
        out.append(text.constData() + copied, i - copied);
        out += escape;
        copied = i + 1;
    }
    out.append(text.constData() + copied, text.size() - copied);
    out += QLatin1Char('"');
    return out;
}

QString timeText(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    // Always "+hh:mm", also for UTC, rather than a "Z" for some events and an offset for others.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

bool readString(const QJsonObject &object, const char *key, QString *value)
{
    const QJsonValue field = object.value(QLatin1String(key));
    if (field.isUndefined())
        return true;
    if (!field.isString())
        return false;
    *value = field.toString();
    return true;
}

bool isSha256(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) &&
            !(c >= QLatin1Char('a') && c <= QLatin1Char('f')))
            return false;
    }
    return true;
}

bool readEvent(const QByteArray &line, HistoryEvent *event)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();

    const QJsonValue time = object.value(QLatin1String("time"));
    event->time = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
    if (!event->time.isValid())
        return false;
    if (!valueOf(kOperations, object.value(QLatin1String("operation")), &event->operation) ||
        !valueOf(kOutcomes, object.value(QLatin1String("outcome")), &event->outcome))
        return false;

    const QJsonValue size = object.value(QLatin1String("size"));
    if (!size.isUndefined()) {
        const double bytes = size.toDouble(-2);
        // Whole numbers only, and none a double cannot hold exactly.
        if (bytes < -1 || bytes > 9007199254740992.0 || std::floor(bytes) != bytes)
            return false;
        event->size = qint64(bytes);
    }
    return readString(object, "address", &event->address) &&
           readString(object, "hostKey", &event->hostKey) &&
           readString(object, "remotePath", &event->remotePath) &&
           readString(object, "newRemotePath", &event->newRemotePath) &&
           readString(object, "localPath", &event->localPath) &&
           readString(object, "sha256", &event->sha256) &&
           (event->sha256.isEmpty() || isSha256(event->sha256)) &&
           readString(object, "detail", &event->detail);
}

} // namespace

QString operationKey(HistoryEvent::Operation operation)
{
    return keyOf(kOperations, operation);
}

QString outcomeKey(HistoryEvent::Outcome outcome)
{
    return keyOf(kOutcomes, outcome);
}

QByteArray line(const HistoryEvent &event)
{
    const std::pair<const char *, QString> fields[] = {
        {"time", quoted(timeText(event.time))},
        {"address", quoted(event.address)},
        {"hostKey", quoted(event.hostKey)},
        {"operation", quoted(operationKey(event.operation))},
        {"remotePath", quoted(event.remotePath)},
        {"newRemotePath", quoted(event.newRemotePath)},
        {"localPath", quoted(event.localPath)},
        {"size", QString::number(event.size)},
        {"sha256", quoted(event.sha256)},
        {"outcome", quoted(outcomeKey(event.outcome))},
        {"detail", quoted(event.detail)},
    };
    QString text = QStringLiteral("{");
    for (const auto &[key, value] : fields) {
        if (text.size() > 1)
            text += QLatin1Char(',');
        text += QLatin1Char('"') + QLatin1String(key) + QLatin1String("\":") + value;
    }
    text += QLatin1String("}\n");
    return text.toUtf8();
}

Contents parse(const QByteArray &contents)
{
    Contents result;
    int start = 0;
    while (start < contents.size()) {
        int end = contents.indexOf('\n', start);
        if (end < 0)
            end = contents.size();
        const QByteArray text = contents.mid(start, end - start);
        start = end + 1;
        if (text.trimmed().isEmpty())
            continue;
        HistoryEvent event;
        if (readEvent(text, &event))
            result.events.append(event);
        else
            ++result.skipped;
    }
    return result;
}

} // namespace HistoryFormat
