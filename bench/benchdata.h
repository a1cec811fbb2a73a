#pragma once

#include <QByteArray>

#include <vector>

// Clipboard contents the benches copy, the same on every run.
namespace benchdata {

constexpr int ImageWidth = 3840;
constexpr int ImageHeight = 2160;

// Lines of ordinary prose, cut to exactly size bytes.
QByteArray makeText(qint64 size);

// A 3840x2160 PNG with screen-like content: flat panels, gradients and one photo-like area.
QByteArray makePng();

double median(std::vector<double> values);
double maximum(const std::vector<double> &values);

} // namespace benchdata
