// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

// One line of text too long to wrap sensibly (a path, a file name), shortened with "…" to the width it is given;
// the whole text is in its tool tip. It never asks for more width, so a long path cannot widen the window.
class ElidedLabel : public QLabel
{
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget *parent = nullptr);

    void setFullText(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    const Qt::TextElideMode m_mode;
    QString m_fullText;
};
