#include "cues.h"

#include "textwidth.h"

#include <algorithm>
#include <cctype>

namespace subtitles {

namespace {

bool isSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0x3000
        || c == 0xA0;
}

// Whitespace-separated pieces, and within them each CJK character (with the punctuation after
// it) as a token of its own.
std::vector<TimedToken> splitText(const std::string &text)
{
    std::vector<TimedToken> tokens;
    bool afterSpace = false;
    bool startNew = true;
    for (const CodePoint &point : decodeUtf8(text)) {
        if (isSpace(point.value)) {
            afterSpace = true;
            startNew = true;
            continue;
        }
        const bool ideograph = isCjk(point.value) && !isCjkPunctuation(point.value);
        const bool previousIdeograph = !tokens.empty() && !startNew && [&] {
            const auto points = decodeUtf8(tokens.back().text);
            return isCjk(points.back().value);
        }();
        if (startNew || ideograph || previousIdeograph) {
            const bool punctuation = isCjkPunctuation(point.value)
                || (point.value < 0x80 && std::ispunct(static_cast<int>(point.value)));
            if (!startNew && previousIdeograph && punctuation) {
                tokens.back().text += text.substr(point.offset, point.length);
                continue;
            }
            TimedToken token;
            token.spaceBefore = afterSpace && !tokens.empty();
            tokens.push_back(token);
            startNew = false;
            afterSpace = false;
        }
        tokens.back().text += text.substr(point.offset, point.length);
    }
    return tokens;
}

// Letters and digits in lower case: what a word and the text's token have in common when one
// carries punctuation the other lacks.
std::string comparable(const std::string &text)
{
    std::string out;
    for (const CodePoint &point : decodeUtf8(text)) {
        if (point.length == 1) {
            const auto c = static_cast<unsigned char>(text[point.offset]);
            if (std::isalnum(c))
                out += static_cast<char>(std::tolower(c));
            else if (c == '\'')
                out += '\'';
        } else if (!isCjkPunctuation(point.value)) {
            out += text.substr(point.offset, point.length);
        }
    }
    return out;
}

// Shares [start, end] among tokens first..last by their characters.
void shareByCharacters(std::vector<TimedToken> &tokens, std::size_t first, std::size_t last,
    std::int64_t start, std::int64_t end)
{
    if (end < start)
        end = start;
    std::size_t total = 0;
    for (std::size_t i = first; i < last; ++i)
        total += std::max<std::size_t>(1, codePointCount(tokens[i].text));
    std::size_t done = 0;
    for (std::size_t i = first; i < last; ++i) {
        tokens[i].startMs = start + static_cast<std::int64_t>((end - start) * done / total);
        done += std::max<std::size_t>(1, codePointCount(tokens[i].text));
        tokens[i].endMs = start + static_cast<std::int64_t>((end - start) * done / total);
    }
}

// Gives tokens the times of the words they match; returns which tokens were matched.
std::vector<bool> alignWords(std::vector<TimedToken> &tokens, const std::vector<Word> &words)
{
    std::vector<bool> timed(tokens.size(), false);
    std::size_t next = 0;
    for (const Word &word : words) {
        const std::string wanted = comparable(word.text);
        if (wanted.empty())
            continue;
        // a recogniser's word list may miss or add a word: look a little ahead
        for (std::size_t from = next; from < tokens.size() && from <= next + 2; ++from) {
            std::string joined;
            std::size_t to = from;
            while (to < tokens.size() && joined.size() < wanted.size())
                joined += comparable(tokens[to++].text);
            if (joined != wanted)
                continue;
            shareByCharacters(tokens, from, to, word.startMs, std::max(word.startMs, word.endMs));
            std::fill(timed.begin() + static_cast<std::ptrdiff_t>(from),
                timed.begin() + static_cast<std::ptrdiff_t>(to), true);
            next = to;
            break;
        }
    }
    return timed;
}

// Cuts a token wider than a line into line-wide pieces sharing its time.
void cutLongTokens(std::vector<TimedToken> &tokens, const CueRules &rules)
{
    std::vector<TimedToken> out;
    for (const TimedToken &token : tokens) {
        // A piece of a mixed token may hold no CJK and so get the other limit: cut to the
        // narrower of the two, which every piece then fits.
        const std::size_t limit = containsCjk(token.text)
            ? std::min(rules.cjkLineChars, rules.latinLineChars)
            : rules.latinLineChars;
        const auto points = decodeUtf8(token.text);
        if (points.size() <= limit) {
            out.push_back(token);
            continue;
        }
        const std::size_t first = out.size();
        for (std::size_t i = 0; i < points.size(); i += limit) {
            const std::size_t endPoint = std::min(points.size(), i + limit);
            const std::size_t from = points[i].offset;
            const std::size_t to
                = endPoint < points.size() ? points[endPoint].offset : token.text.size();
            TimedToken piece;
            piece.text = token.text.substr(from, to - from);
            piece.spaceBefore = i == 0 ? token.spaceBefore : false;
            out.push_back(piece);
        }
        shareByCharacters(out, first, out.size(), token.startMs, token.endMs);
    }
    tokens.swap(out);
}

} // namespace

std::size_t lineLimit(const std::string &line, const CueRules &rules)
{
    return containsCjk(line) ? rules.cjkLineChars : rules.latinLineChars;
}

std::vector<TimedToken> timedTokens(const Utterance &utterance, const CueRules &rules)
{
    std::vector<TimedToken> tokens = splitText(utterance.text);
    const std::int64_t start = utterance.startMs;
    const std::int64_t end = std::max(utterance.startMs, utterance.endMs);
    const std::vector<bool> timed = alignWords(tokens, utterance.words);
    // the untimed runs share the time between their timed neighbours
    std::size_t i = 0;
    while (i < tokens.size()) {
        if (timed[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < tokens.size() && !timed[j])
            ++j;
        const std::int64_t from = i > 0 ? tokens[i - 1].endMs : start;
        const std::int64_t to = j < tokens.size() ? tokens[j].startMs : end;
        shareByCharacters(tokens, i, j, from, std::max(from, to));
        i = j;
    }
    cutLongTokens(tokens, rules);
    return tokens;
}

void settleCueTimes(std::vector<Cue> &cues, const CueRules &rules)
{
    std::stable_sort(
        cues.begin(), cues.end(), [](const Cue &a, const Cue &b) { return a.startMs < b.startMs; });
    std::int64_t previousEnd = 0;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        Cue &cue = cues[i];
        cue.startMs = std::max(cue.startMs, previousEnd);
        const std::int64_t shortest = cue.startMs + rules.minDurationMs;
        std::int64_t end
            = std::min(std::max(cue.endMs, shortest), cue.startMs + rules.maxDurationMs);
        // give way to the next cue, but never below the minimum
        if (i + 1 < cues.size() && end > cues[i + 1].startMs)
            end = std::max(shortest, cues[i + 1].startMs);
        cue.endMs = end;
        previousEnd = end;
    }
}

std::vector<Cue> layoutCues(std::vector<Utterance> utterances, const CueRules &rules)
{
    std::stable_sort(utterances.begin(), utterances.end(),
        [](const Utterance &a, const Utterance &b) { return a.startMs < b.startMs; });
    std::vector<Cue> cues;
    for (const Utterance &utterance : utterances) {
        Cue cue;
        bool open = false;
        for (const TimedToken &token : timedTokens(utterance, rules)) {
            if (open) {
                std::string &line = cue.lines.back();
                const std::string joined = line + (token.spaceBefore ? " " : "") + token.text;
                const bool tooLong = token.endMs - cue.startMs > rules.maxDurationMs;
                if (!tooLong && codePointCount(joined) <= lineLimit(joined, rules)) {
                    line = joined;
                    cue.endMs = std::max(cue.endMs, token.endMs);
                    continue;
                }
                if (!tooLong && cue.lines.size() < rules.maxLines) {
                    cue.lines.push_back(token.text);
                    cue.endMs = std::max(cue.endMs, token.endMs);
                    continue;
                }
                cues.push_back(cue);
            }
            cue = Cue { token.startMs, token.endMs, { token.text } };
            open = true;
        }
        if (open)
            cues.push_back(cue);
    }
    settleCueTimes(cues, rules);
    return cues;
}

} // namespace subtitles
