#include "engine/jet4/write/PagesInReach.h"

#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexPage.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace engine::jet4 {

namespace {

struct Reach {
    std::uint32_t end = 0;

    void page(std::uint32_t number) { end = std::max(end, number + 1); }

    void map(const PageFile& file, std::uint32_t pointer) {
        if (pointer == 0)
            return;
        const UsageMap usage = readUsageMap(file, pointer);
        page(usage.location.page);
        for (const std::uint32_t mapPage : usage.mapPages)
            if (mapPage != 0)
                page(mapPage);
        if (!usage.pages.empty())
            page(usage.pages.back());
    }

    // Every page of the index tree under `root`: the node pages read, the pages they lead to
    // and each page's neighbours at its level counted.
    void tree(const PageFile& file, std::uint32_t root) {
        if (root == 0)
            return;
        std::vector<std::uint32_t> todo{root};
        std::unordered_set<std::uint32_t> seen{root};
        const auto lead = [&](std::uint32_t to) {
            if (to == 0)
                return;
            page(to);
            if (seen.insert(to).second)
                todo.push_back(to);
        };
        while (!todo.empty()) {
            const std::uint32_t number = todo.back();
            todo.pop_back();
            page(number);
            const IndexPage header = readIndexPageHeader(file.page(number), number);
            page(header.prev);
            page(header.next);
            if (header.leaf)
                continue;
            const IndexPage node = readIndexPage(file, number);
            for (const IndexEntry& entry : node.entries)
                lead(entry.child);
            lead(node.tail);
        }
    }
};

} // namespace

std::uint32_t pagesInReachEnd(const PageFile& file) {
    Reach reach;
    // The free-page map's own row and pages; the pages it lists are what is in question.
    const UsageMap global = readUsageMap(file, GlobalUsageMapPointer);
    reach.page(global.location.page);
    for (const std::uint32_t mapPage : global.mapPages)
        if (mapPage != 0)
            reach.page(mapPage);

    std::vector<std::uint32_t> tables{CatalogDefinitionPage};
    for (const CatalogEntry& entry : readCatalog(file))
        if (entry.type == CatalogEntry::TableType && entry.id > 0)
            tables.push_back(static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF);
    for (const std::uint32_t id : tables) {
        const TableDefinition table = readTableDefinition(file, id);
        for (const std::uint32_t page : table.pages)
            reach.page(page);
        reach.map(file, table.ownedPages);
        reach.map(file, table.freePages);
        for (const PhysicalIndex& index : table.physicalIndexes) {
            reach.map(file, index.usageMap);
            reach.tree(file, index.rootPage);
        }
        for (const LongValueMaps& maps : table.longValueMaps) {
            reach.map(file, maps.ownedPages);
            reach.map(file, maps.freePages);
        }
    }
    return reach.end;
}

} // namespace engine::jet4
