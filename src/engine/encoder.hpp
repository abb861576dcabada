#pragma once

#include <optional>
#include <string>

#include "engine/table.hpp"

namespace glyphound {

// The shortest bytes that the table reads back as exactly `text`, with
// entries listed first preferred among equals; with `ending`, they end in
// `ending`'s bytes. Empty, with `failure` naming the first character that
// can't be spelt and its position (from 1), when there are none.
// The table's one end token, which a text may be asked to end with; throws
// Refusal when it has none or several.
const TableEntry* onlyEndToken(const Table& table);

std::optional<std::string> encode(const Table& table, const Text& text, const TableEntry* ending,
                                  std::string& failure);

}  // namespace glyphound
