// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <variant>

// What the command line asks of this launch.
struct CommandLineOptions
{
    QString library;     // an absolute path, or empty
    QString musicFolder; // an absolute path, or empty
    QString servedFolder; // an absolute path, or empty
    bool verbose = false;
};

class CommandLine
{
public:
    // Exit statuses of a launch that ends at its command line.
    static constexpr int printedAndDone = 0;
    static constexpr int usageError = 2; // as getopt-style tools report a bad option

    // The options, or the status to exit with once --help or --version has been answered on standard output, or a
    // mistake reported with the usage on standard error. Nothing else is started before this is known.
    static std::variant<CommandLineOptions, int> parse(const QStringList &arguments);
};
