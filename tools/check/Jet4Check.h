#pragma once
// Checking and dumping Access 2000-2003 (Jet 4) files.
//
// The check reads every structure the file holds and holds each against the others:
//   - pages: every page's type and owner against the usage maps that claim it and the global
//     free-page map (a page in use must not be marked free, nor claimed twice);
//   - table definitions: every table of the catalog, its columns and indexes;
//   - rows: every row of every table decodes, long values included; the stored row count;
//   - indexes: every physical index's B-tree by the rules IndexTreeCheck.h states (page types,
//     owners and depths, sibling links both ways, the tail, node entries against their
//     children's whole subtrees, entries in strictly ascending order), each leaf entry pointing
//     at a live row, each live row having exactly one entry, each entry's key equal to the key
//     encoded afresh from its row, no key twice in a unique index and no Null key column in a
//     primary key or a required index. Text keys are encoded for the General sort order (1033);
//     in any other order their comparison is noted as not checked.
// What Access itself leaves in healthy files (a node entry above what deletions left in its
// child, a stored row count behind the rows) is a note, not a fault.
// The file is opened read-only and never written.

#include "tools/check/Report.h"

#include <functional>
#include <string>

namespace check {

Report checkJet4(const std::string& path);

// One dump line per row of every user table (not system, not linked), tables in catalog order,
// columns by column number.
void dumpJet4(const std::string& path, const std::function<void(const std::string&)>& line);

} // namespace check
