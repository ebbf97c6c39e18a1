#pragma once
// A new, empty Access 2000 (Jet 4) database written from scratch, holding the catalog Access 2000
// gives a database it creates: the four system tables of the engine (MSysObjects, MSysACEs,
// MSysQueries, MSysRelationships) with their columns, indexes and usage maps; the containers
// (Tables, Databases, Relationships, and Access's DataAccessPages, Forms, Modules, Reports,
// Scripts, SysRel); the database object MSysDb with its properties (AccessVersion "08.50",
// Build); the documents SummaryInfo and UserDefined; and the permissions of each object in
// MSysACEs.
//
// Left out are the objects Access adds the first time it opens a database in its own window
// (MSysAccessObjects, which stores Access's project, and the AccessLayout document): their
// content is Access's own, and Access makes them when they are missing, as it does for the files
// the Jet engine alone creates.
//
// The pages are laid out as Access lays out a new file: page 0 the header, 1 the global
// free-page map, 2-5 the system tables' definitions, 6 their usage maps, 7-13 their index pages,
// 14 the rows of MSysObjects, 15 those of MSysACEs, 16 the long values (property blobs).

#include <cstdint>
#include <string>

namespace engine::jet4 {

// The present local time as Access stores dates: days since 1899-12-30, the fraction the time
// of day.
double currentOleDate();

// Writes a new, empty Jet 4 database at `path`, which must not exist (std::system_error with
// EEXIST otherwise, the existing file untouched). `codePage` goes to the header; text is sorted
// "General" (1033). `createdOleDate` stamps the catalog rows' DateCreate and DateUpdate; the
// header keeps the date its security identifiers are stored under (see NewDatabase.cpp). The file
// is built in a temporary file beside `path` and put in place with one rename that never
// replaces a file, then flushed with its folder; on any failure (std::system_error for the
// file system, std::logic_error should the catalog not fit its pages) nothing is left behind.
void createEmptyDatabase(const std::string& path, std::uint16_t codePage = 1252,
                         double createdOleDate = currentOleDate());

} // namespace engine::jet4
