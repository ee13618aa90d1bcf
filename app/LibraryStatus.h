#pragma once

#include <QDateTime>
#include <QString>

// What the window says about the library being served. Counts below zero mean "not known yet".
struct LibraryStatus
{
    QString path;
    qsizetype tracks = -1;
    qsizetype songs = -1;
    QDateTime readAt{};
    // Why the library cannot be read; empty when it could be.
    QString problem{};
};
