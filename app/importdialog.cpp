#include "app/importdialog.h"

#include "measured/readers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

ImportDialog::ImportDialog(const QString& path, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Import Measured Scan"));
    const ScanReadResult probe = readScanFile(path);
    const MeasuredScan& scan = probe.scan;
    const bool omega = scan.axis == QLatin1String("omega");

    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    if (probe.ok)
        summary_->setText(tr("%1: %2, scan %3 of %4 by default, %5 points on %6.")
                              .arg(QFileInfo(path).fileName(), scan.format)
                              .arg(scan.scanNumber)
                              .arg(scan.scanCount)
                              .arg(scan.theta.size())
                              .arg(omega ? tr("omega") : tr("2theta")));
    else
        summary_->setText(probe.error);

    axis_ = new QComboBox(this);
    axis_->addItem(tr("As the file says"));
    axis_->addItem(QStringLiteral("2theta"));
    axis_->addItem(QStringLiteral("omega"));

    scan_ = new QSpinBox(this);
    scan_->setRange(0, std::max(1, scan.scanCount));
    scan_->setSpecialValueText(tr("As the file says"));
    scan_->setValue(0);

    window_ = new QCheckBox(tr("Only the angles from – to (degrees of the axis):"), this);
    from_ = new QDoubleSpinBox(this);
    to_ = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* box : {from_, to_}) {
        box->setRange(-360.0, 360.0);
        box->setDecimals(4);
        box->setSingleStep(0.1);
        box->setEnabled(false);
    }
    if (probe.ok) {
        const double toAxis = omega ? 1.0 : 2.0;
        from_->setValue(scan.theta.first() * toAxis);
        to_->setValue(scan.theta.last() * toAxis);
    }
    connect(window_, &QCheckBox::toggled, from_, &QWidget::setEnabled);
    connect(window_, &QCheckBox::toggled, to_, &QWidget::setEnabled);

    auto* form = new QFormLayout;
    form->addRow(tr("Axis:"), axis_);
    form->addRow(tr("Scan of the file:"), scan_);
    form->addRow(window_);
    form->addRow(tr("From:"), from_);
    form->addRow(tr("To:"), to_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary_);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QString ImportDialog::choices() const {
    QStringList words;
    if (axis_->currentIndex() == 1)
        words << QStringLiteral("2theta");
    else if (axis_->currentIndex() == 2)
        words << QStringLiteral("omega");
    if (scan_->value() > 0)
        words << QStringLiteral("SCAN %1").arg(scan_->value());
    // A window whose ends are not in order is no choice: the whole scan is taken.
    if (window_->isChecked() && from_->value() < to_->value())
        words << QStringLiteral("WINDOW %1 %2")
                     .arg(QString::number(from_->value(), 'g', 10),
                          QString::number(to_->value(), 'g', 10));
    return words.join(QLatin1Char(' '));
}

bool askImportChoices(QWidget* parent, const QString& path, QString& choices) {
    ImportDialog dialog(path, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    choices = dialog.choices();
    return true;
}
