#pragma once

// What the trend draws: each series with its names, axis, scale, digits,
// unit and colour, and each value axis with its names, side and the
// smallest span it shows (a live chart does not rescale on noise).
#include "store/trendstore.h"

#include <QColor>
#include <Qt>

namespace TrendSeries {

enum AxisGroup { PackAxis, CellAxis, CurrentAxis, TempAxis, SocAxis, SpreadAxis, AxisCount };

struct SeriesInfo
{
    const char *zh;
    const char *en;
    AxisGroup axis;
    double scale;    // stored unit to shown unit
    int decimals;
    const char *unit;
    QRgb color;
};

inline const SeriesInfo Info[Trend::SeriesCount] = {
    {"总电压", "Pack voltage", PackAxis, 0.01, 2, "V", 0x1f77b4},
    {"电流", "Current", CurrentAxis, 0.01, 2, "A", 0x2ca02c},
    {"SOC", "SOC", SocAxis, 1, 0, "%", 0x9467bd},
    {"最高单体", "Highest cell", CellAxis, 0.001, 3, "V", 0xd62728},
    {"最低单体", "Lowest cell", CellAxis, 0.001, 3, "V", 0xff7f0e},
    {"单体压差", "Cell spread", SpreadAxis, 1, 0, "mV", 0x8c564b},
    {"最高温度", "Highest temperature", TempAxis, 1, 0, "°C", 0xe377c2},
    {"最低温度", "Lowest temperature", TempAxis, 1, 0, "°C", 0x17becf},
};

struct AxisInfo
{
    const char *zh;
    const char *en;
    Qt::Alignment side;
    double minimalSpan; // shown unit
};

inline const AxisInfo Axes[AxisCount] = {
    {"总电压 (V)", "Pack (V)", Qt::AlignLeft, 1},
    {"单体 (V)", "Cell (V)", Qt::AlignLeft, 0.02},
    {"电流 (A)", "Current (A)", Qt::AlignRight, 1},
    {"温度 (°C)", "Temperature (°C)", Qt::AlignRight, 4},
    {"SOC (%)", "SOC (%)", Qt::AlignRight, 10},
    {"压差 (mV)", "Spread (mV)", Qt::AlignRight, 10},
};

// The lines of the packs when one series is drawn for every pack, told
// apart by colour: sixteen that differ in hue or lightness.
inline const QRgb PackColors[16] = {
    0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
    0xbcbd22, 0x17becf, 0x000080, 0xff9896, 0x006400, 0xc5b0d5, 0xb8860b, 0x00ced1,
};

} // namespace TrendSeries
