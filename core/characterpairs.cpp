#include "core/characterpairs.h"

#include "core/searchtext.h"

#include <sqlite3.h>

#include <cstring>

namespace CharacterPairs {

namespace {

using TokenCallback = int (*)(void *, int, const char *, int, int, int);

// True for a word that is one character of a character script, in UTF-8.
bool isCharacterWord(const char *word, int size)
{
    const auto *b = reinterpret_cast<const unsigned char *>(word);
    int length = 0;
    uint c = 0;
    if (size < 1)
        return false;
    if (b[0] < 0x80)
        return false; // no such script in ASCII
    // The common ideographs, U+4E00 to U+9FFF, without asking Qt's tables.
    if (size == 3 && b[0] >= 0xE4 && b[0] <= 0xE9)
        return (b[1] & 0xC0) == 0x80 && (b[2] & 0xC0) == 0x80 && (b[0] > 0xE4 || b[1] >= 0xB8);
    if ((b[0] & 0xE0) == 0xC0) {
        length = 2;
        c = b[0] & 0x1F;
    } else if ((b[0] & 0xF0) == 0xE0) {
        length = 3;
        c = b[0] & 0x0F;
    } else if ((b[0] & 0xF8) == 0xF0) {
        length = 4;
        c = b[0] & 0x07;
    }
    if (length == 0 || size != length)
        return false;
    for (int i = 1; i < length; ++i)
        c = (c << 6) | (b[i] & 0x3F);
    return SearchText::isCharacterScript(c);
}

// The words of one call, as the inner tokenizer gives them, passed on with the pairs.
struct Pairing
{
    void *context;
    TokenCallback emit;
    // The last character word, while the next word may continue it.
    char held[4];
    int heldSize = 0;
    int heldStart = 0;
    int heldEnd = 0;
    bool paired = false; // a query's run of characters has given a pair

    int emitPair(int flags, const char *word, int size, int end)
    {
        char pair[8];
        std::memcpy(pair, held, heldSize);
        std::memcpy(pair + heldSize, word, size);
        return emit(context, flags, pair, heldSize + size, heldStart, end);
    }
    void hold(const char *word, int size, int start, int end)
    {
        std::memcpy(held, word, size);
        heldSize = size;
        heldStart = start;
        heldEnd = end;
    }
};

// A document's words each as it is, and after a character its pair with the next, in its place.
int documentWord(void *p, int flags, const char *word, int size, int start, int end)
{
    auto *s = static_cast<Pairing *>(p);
    const bool character = isCharacterWord(word, size);
    if (character && s->heldSize > 0) {
        const int rc = s->emitPair(FTS5_TOKEN_COLOCATED, word, size, end);
        if (rc != SQLITE_OK)
            return rc;
    }
    s->heldSize = 0;
    if (character)
        s->hold(word, size, start, end);
    return s->emit(s->context, flags, word, size, start, end);
}

// A query phrase's run of characters as the chain of its pairs: its last character stands
// alone only when the run is one character, or when another word follows it in the phrase
// and must be found right after it.
int queryWord(void *p, int flags, const char *word, int size, int start, int end)
{
    auto *s = static_cast<Pairing *>(p);
    if (isCharacterWord(word, size)) {
        if (s->heldSize > 0) {
            const int rc = s->emitPair(0, word, size, end);
            if (rc != SQLITE_OK)
                return rc;
            s->paired = true;
        }
        s->hold(word, size, start, end);
        return SQLITE_OK;
    }
    if (s->heldSize > 0) {
        const int rc = s->emit(s->context, 0, s->held, s->heldSize, s->heldStart, s->heldEnd);
        if (rc != SQLITE_OK)
            return rc;
    }
    s->heldSize = 0;
    s->paired = false;
    return s->emit(s->context, flags, word, size, start, end);
}

// The text is the word table's, its words parted by spaces (SearchText::wordTableText): no
// other tokenizer's rules are needed to find them, and none could part or fold them
// otherwise than the text rules did.
int create(void *, const char **, int, Fts5Tokenizer **out)
{
    static int instance;
    *out = reinterpret_cast<Fts5Tokenizer *>(&instance);
    return SQLITE_OK;
}

void destroy(Fts5Tokenizer *) { }

int tokenize(
    Fts5Tokenizer *, void *context, int flags, const char *text, int size, TokenCallback emit)
{
    Pairing pairing;
    pairing.context = context;
    pairing.emit = emit;
    // Documents (and an auxiliary function's reading of one) give every pair they hold.
    const bool query = flags & FTS5_TOKENIZE_QUERY;
    const auto word = query ? queryWord : documentWord;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    int rc = SQLITE_OK;
    for (int at = 0; at < size && rc == SQLITE_OK;) {
        if (bytes[at] <= ' ') {
            ++at;
            continue;
        }
        int end = at;
        while (end < size && bytes[end] > ' ')
            ++end;
        rc = word(&pairing, 0, text + at, end - at, at, end);
        at = end;
    }
    if (rc != SQLITE_OK || !query || pairing.heldSize == 0 || pairing.paired)
        return rc;
    return emit(context, 0, pairing.held, pairing.heldSize, pairing.heldStart, pairing.heldEnd);
}

} // namespace

fts5_api *fts5Of(sqlite3 *db)
{
    fts5_api *api = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_bind_pointer(statement, 1, static_cast<void *>(&api), "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    return api;
}

bool registerWith(fts5_api *api)
{
    static fts5_tokenizer pairs { create, destroy, tokenize };
    return api && api->xCreateTokenizer(api, tokenizerName, nullptr, &pairs, nullptr) == SQLITE_OK;
}

} // namespace CharacterPairs
