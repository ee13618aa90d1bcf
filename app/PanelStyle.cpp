// SPDX-License-Identifier: GPL-3.0-or-later
#include "PanelStyle.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QLocale>

QLabel *sectionHeading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel *hintLabel(const QString &text, QWidget *parent)
{
    QLabel *label = plainLabel(parent);
    label->setText(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel *plainLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QString momentText(const QDateTime &moment)
{
    const QLocale locale;
    const QDateTime local = moment.toLocalTime();
    const QString time = locale.toString(local.time(), QLocale::ShortFormat);
    if (local.date() == QDate::currentDate())
        return QCoreApplication::translate("PanelStyle", "today at %1").arg(time);
    const QString date = locale.toString(local.date(), QLocale::ShortFormat);
    return QCoreApplication::translate("PanelStyle", "%1 at %2").arg(date, time);
}

QString quantity(qsizetype n, const QString &one, const QString &many)
{
    return QLocale().toString(qlonglong(n)) + u' ' + (n == 1 ? one : many);
}
