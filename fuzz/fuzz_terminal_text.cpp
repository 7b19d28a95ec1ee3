// The terminal-text cleaning on any shell output. Properties: no ESC and no BEL remain; what
// remains is the text less some of its characters, in order; cleaning again changes nothing;
// a text without ESC and BEL is kept whole. The control-only test says what its definition
// says: the trimmed text holds only ESC, BEL to CR, "[", "]", digits, ";", "H", "J", "r", "n".
#include "FuzzCheck.h"
#include "TerminalText.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = shellText(data, size);
    const QString clean = TerminalText::stripControlSequences(text);
    const QString detail = QStringLiteral("%1 gave %2").arg(shown(text), shown(clean));

    FUZZ_CHECK(!clean.contains(QChar(0x1B)) && !clean.contains(QChar(0x07)), detail);
    int at = 0;
    for (const QChar c : clean) {
        at = text.indexOf(c, at);
        FUZZ_CHECK(at >= 0, detail);
        ++at;
    }
    FUZZ_CHECK(TerminalText::stripControlSequences(clean) == clean, detail);
    if (!text.contains(QChar(0x1B)) && !text.contains(QChar(0x07)))
        FUZZ_CHECK(clean == text, detail);

    static const QRegularExpression controlOnly(
        QStringLiteral("^[\\x{1B}\\x{07}-\\x{0D}\\[\\]0-9;HJrn]*$"));
    FUZZ_CHECK(TerminalText::isControlOnly(text) == controlOnly.match(text.trimmed()).hasMatch(),
               shown(text));
    return 0;
}
