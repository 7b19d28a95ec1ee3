#include "HostKeyMessages.h"

namespace HostKeyMessages {

namespace {

QString choose(bool english, const char *englishText, const char *chineseText)
{
    return english ? QString::fromUtf8(englishText) : QString::fromUtf8(chineseText);
}

// A recorded key equal to the one shown is a key that the file marks as revoked in that line.
bool isRevoked(const HostKeyReport &r)
{
    return r.recordedKey == r.offeredKey;
}

QString recordedLine(bool english, const HostKeyReport &r)
{
    if (r.error.isEmpty()) {
        return choose(english, "Controller host key recorded: %1 %2 (in %3)",
                      "已记录控制器主机密钥: %1 %2 (记录于 %3)")
            .arg(r.address, r.offeredKey, r.knownHostsFile);
    }
    return choose(english,
                  "Warning: the host key of %1 (%2) could not be recorded in %3: %4. It will "
                  "not be checked at the next connection.",
                  "警告: 无法将 %1 的主机密钥 (%2) 记录到 %3: %4。下次连接时将无法核对该密钥。")
        .arg(r.address, r.offeredKey, r.knownHostsFile, r.error);
}

QString refusedText(bool english, const HostKeyReport &r)
{
    if (isRevoked(r)) {
        return choose(english,
                      "The controller at %1 showed the host key %2, which line %4 of %3 marks "
                      "as revoked. The password was not sent.\n\n"
                      "Have the controller's host keys renewed before connecting again.",
                      "%1 处的控制器出示的主机密钥 %2 已被 %3 的第 %4 行标记为吊销。密码未发送。"
                      "\n\n请先更换控制器的主机密钥，然后重新连接。")
            .arg(r.address, r.offeredKey, r.knownHostsFile, QString::number(r.line));
    }
    return choose(english,
                  "The controller at %1 showed another host key than the one recorded for it. "
                  "The password was not sent.\n\n"
                  "Recorded: %2\nShown: %3\n\n"
                  "If the controller was really reinstalled, delete line %5 of %4 and connect "
                  "again.",
                  "%1 处的控制器出示的主机密钥与为其记录的不同。密码未发送。\n\n"
                  "已记录: %2\n出示的: %3\n\n"
                  "如果控制器确实已重新安装，请删除 %4 的第 %5 行，然后重新连接。")
        .arg(r.address, r.recordedKey, r.offeredKey, r.knownHostsFile, QString::number(r.line));
}

QString refusedLine(bool english, const HostKeyReport &r)
{
    if (isRevoked(r)) {
        return choose(english,
                      "Connection to %1 refused: its host key %2 is marked as revoked in %3, "
                      "line %4. The password was not sent.",
                      "拒绝连接 %1: 其主机密钥 %2 已被 %3 第 %4 行标记为吊销。密码未发送。")
            .arg(r.address, r.offeredKey, r.knownHostsFile, QString::number(r.line));
    }
    return choose(english,
                  "Connection to %1 refused: it showed the host key %3, not %2 as recorded in %4, "
                  "line %5. The password was not sent.",
                  "拒绝连接 %1: 它出示的主机密钥为 %3，而非 %4 第 %5 行记录的 %2。密码未发送。")
        .arg(r.address, r.recordedKey, r.offeredKey, r.knownHostsFile, QString::number(r.line));
}

// The known-hosts file cannot be read (line 0), or its line is not a known-hosts line or one
// this program cannot check (a certificate authority or host patterns naming the address).
QString unusableText(bool english, const HostKeyReport &r)
{
    if (r.line > 0) {
        return choose(english,
                      "The host key of %1 cannot be checked: line %3 of %2 is not a known-hosts "
                      "line this program can check. The password was not sent.",
                      "无法核对 %1 的主机密钥: %2 的第 %3 行不是本程序能够核对的已知主机条目。"
                      "密码未发送。")
            .arg(r.address, r.knownHostsFile, QString::number(r.line));
    }
    return choose(english,
                  "The host key of %1 cannot be checked: %2 cannot be read (%3). The password "
                  "was not sent.",
                  "无法核对 %1 的主机密钥: 无法读取 %2 (%3)。密码未发送。")
        .arg(r.address, r.knownHostsFile, r.error);
}

} // namespace

QString logLine(bool english, const HostKeyReport &report)
{
    switch (report.outcome) {
    case HostKeyReport::Outcome::Recorded:
        return recordedLine(english, report);
    case HostKeyReport::Outcome::Refused:
        return refusedLine(english, report);
    case HostKeyReport::Outcome::Unusable:
        break;
    }
    return unusableText(english, report);
}

QString boxTitle(bool english, const HostKeyReport &report)
{
    return report.outcome == HostKeyReport::Outcome::Refused
               ? choose(english, "Controller Host Key Changed", "控制器主机密钥已改变")
               : choose(english, "Known Hosts Error", "已知主机文件错误");
}

QString boxText(bool english, const HostKeyReport &report)
{
    return report.outcome == HostKeyReport::Outcome::Refused ? refusedText(english, report)
                                                             : unusableText(english, report);
}

} // namespace HostKeyMessages
