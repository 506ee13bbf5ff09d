#include "app/doctor_app.h"
#include "cli/command_line.h"
#include "sonorel_config.h"
#include "views/doctor_theme.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <csignal>
#include <iostream>

namespace {

// For bench/app-startup: one line on stdout when the window first paints.
class FirstPaintReport final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            std::cout << "first-paint" << std::endl;
            qApp->removeEventFilter(this);
        }
        return false;
    }
};

int runWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Sonorel Doctor"));
    QApplication::setDesktopFileName(QStringLiteral("dev.mirthwork.SonorelDoctor"));
    QApplication::setWindowIcon(sonorel::theme::appIcon());
    // The tray keeps the app running when the window closes, if there is a tray.
    QApplication::setQuitOnLastWindowClosed(false);
    FirstPaintReport report;
    if (qEnvironmentVariableIsSet("SONOREL_REPORT_FIRST_PAINT"))
        app.installEventFilter(&report);
    sonorel::DoctorApp doctor(sonorel::DoctorApp::optionsFrom(QCoreApplication::arguments().mid(1)));
    QString error;
    if (!doctor.start(&error)) {
        if (error.isEmpty())
            return 0;  // the running instance shows its window
        std::cerr << "sonorel-doctor: " << error.toStdString() << "\n";
        return 1;
    }
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that went away is a write error the commands report (a repair
    // then puts its undo record on stderr), not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    // Once for every front: the feedback client and --version read them.
    QCoreApplication::setApplicationName(QStringLiteral("sonorel-doctor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONOREL_VERSION));
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (sonorel::DoctorApp::isWindowLaunch(arguments))
        return runWindow(argc, argv);
    QCoreApplication app(argc, argv);
    return sonorel::runCommandLine(QCoreApplication::arguments().mid(1), std::cout, std::cerr);
}
