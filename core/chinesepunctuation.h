#pragma once

#include <QString>

// Punctuation as Chinese text is written: services often give ASCII marks, or marks with
// blanks around them, between Chinese characters.
namespace ChinesePunctuation {

// ASCII , . ? ! : ; ( ) " ' next to Chinese become ，。？！：；（）“”‘’ and lose the blanks
// around them. A mark stays as it is inside Latin words and numbers (Node.js, 3.5, 1,000),
// in times (10:30), URLs and e-mail addresses, and in text without Chinese.
QString apply(const QString &text);

// One blank between a Chinese character and a Latin letter or digit next to it.
QString spaced(const QString &text);

} // namespace ChinesePunctuation
