#pragma once
// Index pages built in Access's layout (see IndexPage.h) from entries in key order: entries
// after the first without the shared prefix, the entry bitmap marking each entry's end, the free
// space what follows the last entry. How long a prefix Access shares depends on the page's
// history, not on its entries: a page that stood alone keeps 0 even when its entries have a
// common start, pages filled by a split share the longest prefix; so the length is an input
// (IndexPage::prefixLength), at most sharedPrefixLength().

#include "engine/jet4/format/TableDefinitionEncoder.h"
#include "engine/jet4/index/IndexPage.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace engine::jet4 {

// An entry as a page stores it in full: key, row pointer (page 3 bytes big-endian, row 1 byte),
// and on node pages the child page (4 bytes big-endian).
std::string indexEntryBytes(const IndexEntry& entry, bool leaf);

// The longest prefix all `entries` start with (row pointer and child included).
std::size_t sharedPrefixLength(std::span<const IndexEntry> entries, bool leaf);

// How many of `entries`, from the first, fit one page together, sharing the longest prefix.
std::size_t indexEntriesThatFit(std::span<const IndexEntry> entries, bool leaf);

// The page holding `entries`, with the type, owner, links, prefix length and unknown byte
// taken from `page` (its entries are ignored); std::invalid_argument when the entries do not
// fit or do not share that prefix.
PageImage buildIndexPage(const IndexPage& page, std::span<const IndexEntry> entries);

// The same page for entries already stored in full (as indexEntryBytes gives them), one after
// another in `packed`, entry i ending at ends[i]: for builders that hold entries as bytes.
PageImage buildIndexPage(const IndexPage& page, std::string_view packed,
                         std::span<const std::size_t> ends);

} // namespace engine::jet4
