#include "core/characterpairs.h"

#include "core/searchtext.h"

#include <sqlite3.h>

#include <cstring>
#include <new>

namespace CharacterPairs {

namespace {

using TokenCallback = int (*)(void *, int, const char *, int, int, int);

struct Tokenizer
{
    fts5_tokenizer inner;
    Fts5Tokenizer *innerInstance = nullptr;
};

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

int create(void *api, const char **args, int count, Fts5Tokenizer **out)
{
    auto *fts = static_cast<fts5_api *>(api);
    auto *t = new (std::nothrow) Tokenizer;
    if (!t)
        return SQLITE_NOMEM;
    void *innerContext = nullptr;
    const char *innerName = count > 0 ? args[0] : "unicode61";
    int rc = fts->xFindTokenizer(fts, innerName, &innerContext, &t->inner);
    if (rc == SQLITE_OK)
        rc = t->inner.xCreate(innerContext, count > 0 ? args + 1 : nullptr,
            count > 0 ? count - 1 : 0, &t->innerInstance);
    if (rc != SQLITE_OK) {
        delete t;
        return rc;
    }
    *out = reinterpret_cast<Fts5Tokenizer *>(t);
    return SQLITE_OK;
}

void destroy(Fts5Tokenizer *p)
{
    auto *t = reinterpret_cast<Tokenizer *>(p);
    t->inner.xDelete(t->innerInstance);
    delete t;
}

int tokenize(
    Fts5Tokenizer *p, void *context, int flags, const char *text, int size, TokenCallback emit)
{
    auto *t = reinterpret_cast<Tokenizer *>(p);
    Pairing pairing;
    pairing.context = context;
    pairing.emit = emit;
    // Documents (and an auxiliary function's reading of one) give every pair they hold.
    const bool query = flags & FTS5_TOKENIZE_QUERY;
    const int rc = t->inner.xTokenize(
        t->innerInstance, &pairing, flags, text, size, query ? queryWord : documentWord);
    if (rc != SQLITE_OK || !query || pairing.heldSize == 0 || pairing.paired)
        return rc;
    return emit(context, 0, pairing.held, pairing.heldSize, pairing.heldStart, pairing.heldEnd);
}

} // namespace

bool registerWith(fts5_api *api)
{
    static fts5_tokenizer pairs { create, destroy, tokenize };
    return api && api->xCreateTokenizer(api, tokenizerName, api, &pairs, nullptr) == SQLITE_OK;
}

} // namespace CharacterPairs
