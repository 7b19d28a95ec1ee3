// The soak (make soak): the main window with a real worker against the simulated controller,
// for about ten minutes. CNCSIM_INSTANCE picks another controller than 170.
#include "BenchSupport.h"
#include "Soak.h"

#include <QApplication>

namespace {

QtMessageHandler g_nextMessageHandler = nullptr;

// The offscreen platform says this of every dialog the soak answers.
void dropOffscreenNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
        g_nextMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_nextMessageHandler = qInstallMessageHandler(dropOffscreenNoise);

    QString reason;
    if (!SimController::canRun(&reason)) {
        Bench::out() << "== soak skipped: " << reason << Qt::endl;
        return 0;
    }
    Soak soak(Bench::simInstance(170));
    return soak.run();
}
