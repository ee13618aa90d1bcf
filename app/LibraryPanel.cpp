#include "LibraryPanel.h"

#include "ElidedLabel.h"
#include "PanelStyle.h"

#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

LibraryPanel::LibraryPanel(QWidget *parent)
    : QWidget(parent)
{
    m_path = new ElidedLabel(Qt::ElideMiddle, this);
    m_path->setObjectName(QStringLiteral("libraryPath"));
    m_details = plainLabel(this);
    m_details->setObjectName(QStringLiteral("libraryDetails"));
    m_note = hintLabel(QString(), this);
    m_note->setObjectName(QStringLiteral("libraryNote"));
    m_note->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(sectionHeading(tr("Library"), this));
    layout->addWidget(m_path);
    layout->addWidget(m_details);
    layout->addWidget(m_note);

    showLibrary({});
}

void LibraryPanel::showLibrary(const LibraryStatus &status)
{
    m_path->setFullText(status.path);
    m_path->setVisible(!status.path.isEmpty());

    const QLocale locale;
    if (!status.problem.isEmpty()) {
        m_details->setText(tr("Cannot be read: %1").arg(status.problem));
    } else if (status.tracks < 0 || !status.readAt.isValid()) {
        m_details->setText(tr("Not read yet"));
    } else {
        m_details->setText(tr("%1 tracks, %2 songs for the handset; read %3")
                               .arg(locale.toString(qlonglong(status.tracks)),
                                    locale.toString(qlonglong(qMax(status.songs, qsizetype(0)))),
                                    momentText(status.readAt)));
    }
}

void LibraryPanel::showNote(const QString &text)
{
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
}
