#pragma once

#include <QString>

// Chinese numerals written as digits where the reading is a number beyond doubt.
namespace ChineseNumbers {

// Years (二〇二六年 → 2026年), percentages (百分之三十 → 30%), decimals (三点五 → 3.5) and
// counts of two or more numerals before a measure word (十五个 → 15个, 两千零二十六年 →
// 2026年). Everything else stays: single numerals (一个, 三天), ranges (三五个), times
// (三点五十分), words and idioms that hold numerals (一些, 一样, 十分, 万一, 三心二意).
QString toDigits(const QString &text);

// The value of a numeral such as 二十五, 一百零五, 一百五 (150), 两万三千; -1 when the text is
// not one.
qint64 value(const QString &numeral);

} // namespace ChineseNumbers
