#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

// How to take a measured scan from its file, asked before Open Measured Scan compares it:
// the axis theta comes from (the file's own, 2theta or omega), an angle window on that axis,
// and which scan of a file holding several. The answer is in the words of a MEASURED line
// ("omega SCAN 2 WINDOW 30 35"), empty when every choice is left to the file.
class ImportDialog : public QDialog {
    Q_OBJECT

public:
    // `path` is read once to show what the file holds and to start the window at its range.
    explicit ImportDialog(const QString& path, QWidget* parent = nullptr);

    QString choices() const;

    // The controls, for tests.
    QComboBox* axisBox() const { return axis_; }
    QCheckBox* windowBox() const { return window_; }
    QDoubleSpinBox* fromBox() const { return from_; }
    QDoubleSpinBox* toBox() const { return to_; }
    QSpinBox* scanBox() const { return scan_; }

private:
    QLabel* summary_ = nullptr;
    QComboBox* axis_ = nullptr;
    QCheckBox* window_ = nullptr;
    QDoubleSpinBox* from_ = nullptr;
    QDoubleSpinBox* to_ = nullptr;
    QSpinBox* scan_ = nullptr;
};

// Shows the dialog for `path`; false when the user cancels it.
bool askImportChoices(QWidget* parent, const QString& path, QString& choices);
