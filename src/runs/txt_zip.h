#pragma once
// The hidden text box the run windows carry for the archive library, with its text.
class QLineEdit;
class QWidget;

namespace krv::runs {

QLineEdit* criaTxtZip(QWidget* parent);

} // namespace krv::runs
