// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QDateTime;
class QLabel;
class QWidget;

// The few looks the window's panels share, so that they read as one window.

// A short bold caption above a panel's lines.
QLabel *sectionHeading(const QString &text, QWidget *parent);
// A quieter line of explanation.
QLabel *hintLabel(const QString &text, QWidget *parent);
// A plain, wrapping line whose text comes from outside (paths, peers, error texts): never read as markup.
QLabel *plainLabel(QWidget *parent);
// "today at 14:05" or a date and time, in the user's locale and time zone.
QString momentText(const QDateTime &moment);
// "1 song", "12,345 songs": a number in the user's locale, with the noun that fits it.
QString quantity(qsizetype n, const QString &one, const QString &many);
