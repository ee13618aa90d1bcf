// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandLine.h"

#include "LibraryChoice.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

std::variant<CommandLineOptions, int> CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves an iTunes music library to a BlackBerry handset over the local network (TCP port 4556)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption library(QStringLiteral("library"),
                                     QStringLiteral("Serve the iTunes library FILE from now on (it is remembered)."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption musicFolder(
        QStringLiteral("music-folder"),
        QStringLiteral("Look in DIR for the songs of a library copied from another computer (it is remembered)."),
        QStringLiteral("DIR"));
    const QCommandLineOption serveFolder(
        QStringLiteral("serve-folder"),
        QStringLiteral("Serve the songs in DIR and its subfolders from now on, kept current (it is remembered)."),
        QStringLiteral("DIR"));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Report what Pellisor is doing."));
    parser.addOptions({help, version, library, musicFolder, serveFolder, verbose});

    const QString program = arguments.isEmpty() ? QStringLiteral("pellisor") : QFileInfo(arguments.first()).fileName();
    // Without an application object the parser cannot know the program's name.
    const QString usage = parser.helpText().replace(QLatin1StringView("<executable_name>"), program);
    const auto mistake = [&](const QString &text) {
        print(stderr, QStringLiteral("%1: %2\n").arg(program, text) + usage);
        return usageError;
    };

    if (!parser.parse(arguments))
        return mistake(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return mistake(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        print(stdout, usage);
        return printedAndDone;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("pellisor %1\n").arg(QStringLiteral(PELLISOR_VERSION)));
        return printedAndDone;
    }

    CommandLineOptions options;
    options.verbose = parser.isSet(verbose);
    if (parser.isSet(library)) {
        if (const QString problem = LibraryChoice::libraryFileProblem(parser.value(library)); !problem.isEmpty())
            return mistake(problem);
        options.library = QFileInfo(parser.value(library)).absoluteFilePath();
    }
    if (parser.isSet(musicFolder)) {
        if (const QString problem = LibraryChoice::musicFolderProblem(parser.value(musicFolder)); !problem.isEmpty())
            return mistake(problem);
        options.musicFolder = QFileInfo(parser.value(musicFolder)).absoluteFilePath();
    }
    if (parser.isSet(serveFolder)) {
        if (const QString problem = LibraryChoice::musicFolderProblem(parser.value(serveFolder)); !problem.isEmpty())
            return mistake(problem);
        options.servedFolder = QFileInfo(parser.value(serveFolder)).absoluteFilePath();
    }
    return options;
}
