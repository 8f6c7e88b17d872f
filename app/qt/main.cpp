// Program entry: back-end, single instance, the three windows, the message loop.
#include <QApplication>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/qt/MainForm.h"
#include "app/core/MainState.h"
#include "platform/HostPlatform.h"
#include "platform/Platform.h"
#include "app/qt/InformationForm.h"
#include "app/qt/ShutDownForm.h"

#if defined(__linux__)
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <fcntl.h>

namespace {
// Power-off through the service manager. A refusal (no permission, no logind, no system
// bus) is silent: the shutdown prompt simply stays open.
int PowerOffThroughLogind() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return 0;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << false;  // not interactive: no password prompt from the policy agent
    const QDBusMessage reply = bus.call(call);
    return reply.type() == QDBusMessage::ReplyMessage ? 1 : 0;
}

// An inhibitor lock held off sleep, shutdown and idle actions while a download or an erase
// runs: logind keeps it while the answered descriptor stays open. -1 when logind refuses or
// cannot be reached; the update then goes on without it.
int InhibitThroughLogind(const std::string& why) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return -1;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown:idle") << QStringLiteral("QX Updater")
         << QString::fromUtf8(why.c_str()) << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call);
    if (!reply.isValid() || !reply.value().isValid()) return -1;
    // The reply's object closes its own copy.
    return ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}
}  // namespace
#endif

int main(int argc, char** argv) {
    // The command line is not read: the toolkit gets the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    const QString startTitle =
        QStringLiteral("Quorvex %1 Toolbox %2")
            .arg(QString::fromLatin1(qx::kControllerModel), QString::fromLatin1(qx::kVersionText));

    std::string error;
    std::unique_ptr<qx::HostPlatform> host = qx::HostPlatform::fromEnvironment(error);
    if (!host) {
        std::fprintf(stderr, "qxupdater: %s\n", error.c_str());
        QApplication app(qtArgc, qtArgv);
        qx::ShowErrorBox(startTitle, QString::fromLocal8Bit(error.c_str()));
        return 1;
    }
    host->install();

    // Another copy running: end at once, without a window, a message or a drive touched.
    if (!qx::platform().kernel->acquireSingleInstance("QXUpdater")) return 0;

    QApplication app(qtArgc, qtArgv);
#if defined(__linux__)
    host->setPowerOffHandler(&PowerOffThroughLogind);
    host->setSleepHoldHandler(&InhibitThroughLogind);
#endif

    std::unique_ptr<TMainForm> mainForm;
    std::unique_ptr<TInformationForm> informationForm;
    try {
        mainForm = std::make_unique<TMainForm>();
        auto* shutDownForm = new TShutDownForm(mainForm.get());  // centred on the main window
        informationForm = std::make_unique<TInformationForm>();   // placed by the system
        mainForm->setModalForms(shutDownForm, informationForm.get());
        // Start-up timing (scripts/measure-startup.sh): the moments of the first painted
        // showing and of the filled list, in milliseconds of the Unix epoch.
        if (const char* times = std::getenv("QXUPDATER_STARTUP_TIMES"); times && *times) {
            const std::string path = times;
            mainForm->onMilestone = [path](const char* milestone) {
                const double ms = std::chrono::duration<double, std::milli>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
                if (FILE* f = std::fopen(path.c_str(), "a")) {
                    std::fprintf(f, "%s %.1f\n", milestone, ms);
                    std::fclose(f);
                }
            };
        }
        mainForm->show();
    } catch (const std::exception& e) {
        qx::ShowErrorBox(mainForm ? mainForm->appTitle() : startTitle, QString::fromLocal8Bit(e.what()));
        return 0;
    } catch (...) {
        qx::ShowErrorBox(mainForm ? mainForm->appTitle() : startTitle, QString());
        return 0;
    }
    app.exec();
    informationForm.reset();
    mainForm.reset();
    return 0;
}
