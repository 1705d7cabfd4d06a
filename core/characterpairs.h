#pragma once

struct fts5_api;
struct sqlite3;

// The word table's tokenizer: the words of the table's text as SearchText::wordTableText parts
// them by spaces, and at each character of a character script that the next word continues, the
// pair of the two in the same place. A run of such characters in a query phrase is looked up as the
// chain of its pairs: their place lists are a small part of those of the common characters they are
// made of, and a chain is found at exactly the places where the run is.
namespace CharacterPairs {

constexpr char tokenizerName[] = "character_pairs";

// The FTS5 of a connection; null without one.
fts5_api *fts5Of(sqlite3 *db);

// Makes the tokenizer known to the FTS5 of a connection; false when it cannot be.
bool registerWith(fts5_api *api);

} // namespace CharacterPairs
