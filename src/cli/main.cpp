#include "cli/command_line.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("sonorel-doctor");
    return sonorel::runCommandLine(QCoreApplication::arguments().mid(1), std::cout, std::cerr);
}
