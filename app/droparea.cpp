#include "app/droparea.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

DropArea::DropArea(QWidget* parent) : QLineEdit(parent) {
    setAcceptDrops(true);
}

DropArea::~DropArea() = default;

// Every drag is offered the drop; what it carries is sorted out in dropEvent.
void DropArea::dragEnterEvent(QDragEnterEvent* event) {
    event->acceptProposedAction();
}

// Only file URLs name files here: a web link dragged from a browser has a path too, but
// opening that path on this machine would load some unrelated local file. toLocalFile
// decodes percent-escapes and strips the slash before a drive letter only on Windows, where
// drive letters exist; elsewhere "/a:b" is a valid absolute path and stays as it is.
// The event is neither accepted nor handed to the line edit, so the dropped data never
// lands in the field as text.
void DropArea::dropEvent(QDropEvent* event) {
    QStringList names;
    const QMimeData* data = event->mimeData();
    if (data) {
        const QList<QUrl> urls = data->urls();
        for (const QUrl& url : urls) {
            if (url.isLocalFile())
                names.append(url.toLocalFile());
        }
    }
    emit dropped(names);
}
