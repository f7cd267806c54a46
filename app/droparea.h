#pragma once

#include <QLineEdit>
#include <QStringList>

class QDragEnterEvent;
class QDropEvent;

// The drop field of the main window: a line edit that turns the local files dragged onto it
// into a list of file names. Owned by its parent widget (the form's top bar).
class DropArea : public QLineEdit {
    Q_OBJECT
public:
    explicit DropArea(QWidget* parent = nullptr);
    ~DropArea() override;

signals:
    // The dropped local files in the drag's order; empty when the drag carried none.
    void dropped(QStringList names);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
