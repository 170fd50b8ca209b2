#include "ui/RecordChoice.h"

#include "app/Settings.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QSpinBox>

namespace wg {

std::optional<IntegrationChoice> AskRecordChoice(QWidget* parent, const IntegrationChoice& initial) {
  QDialog d(parent);
  d.setObjectName(QStringLiteral("RecordChoice"));
  d.setWindowTitle(QStringLiteral("Record…"));
  auto* form = new QFormLayout(&d);
  auto* bin = new QDoubleSpinBox(&d);
  bin->setObjectName(QStringLiteral("bin"));
  bin->setRange(0, TSettings::kMostRecordBinHz / 1000);
  bin->setDecimals(3);
  bin->setSuffix(QStringLiteral(" kHz"));
  bin->setSpecialValueText(QStringLiteral("every bin"));
  bin->setValue(initial.binHz / 1000);
  auto* interval = new QSpinBox(&d);
  interval->setObjectName(QStringLiteral("interval"));
  interval->setRange(0, static_cast<int>(TSettings::kMostRecordIntervalSeconds));
  interval->setSuffix(QStringLiteral(" s"));
  interval->setSpecialValueText(QStringLiteral("every sweep"));
  interval->setValue(static_cast<int>(initial.intervalSeconds));
  auto* within = new QComboBox(&d);
  within->setObjectName(QStringLiteral("within"));
  within->addItems({QStringLiteral("mean power"), QStringLiteral("peak hold")});
  within->setCurrentIndex(initial.peakHold ? 1 : 0);
  form->addRow(QStringLiteral("Bin size, at most:"), bin);
  form->addRow(QStringLiteral("Interval:"), interval);
  form->addRow(QStringLiteral("Within an interval:"), within);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  form->addRow(buttons);
  if (d.exec() != QDialog::Accepted) return std::nullopt;
  return IntegrationChoice{bin->value() * 1000, interval->value(), within->currentIndex() == 1};
}

}  // namespace wg
