#pragma once

#include "LibraryStatus.h"

#include <QWidget>

class ElidedLabel;
class QLabel;

// The library being served: where it is, what the handset gets from it, and when it was read or why it cannot be.
class LibraryPanel : public QWidget
{
    Q_OBJECT

public:
    explicit LibraryPanel(QWidget *parent = nullptr);

public slots:
    void showLibrary(const LibraryStatus &status);
    // How a choice made in the File menu went.
    void showNote(const QString &text);

private:
    ElidedLabel *m_path = nullptr;
    QLabel *m_details = nullptr;
    QLabel *m_note = nullptr;
};
