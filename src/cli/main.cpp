#include "cli/command_line.h"

#include <QCoreApplication>

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // A reader that went away is a write error the commands report (a repair
    // then puts its undo record on stderr), not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("sonorel-doctor");
    return sonorel::runCommandLine(QCoreApplication::arguments().mid(1), std::cout, std::cerr);
}
