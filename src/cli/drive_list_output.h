// The query's two output forms: the tab-aligned form table and the query
// records of the JSON envelope.
#pragma once

#include <Poco/JSON/Array.h>

#include <ostream>
#include <string>

#include "disk/query.h"

namespace VkSharemapper {

// Text in the OEM code page, as UTF-8.
std::string OemToUtf8(const std::string& text);

// Tabs that bring the next cell to the start of the following column: one per
// 8 characters of width not covered by the text, none for a text as wide as
// the column or wider.
std::string ColumnFill(std::size_t textLength, std::size_t width);

// Header line, one row per drive, then ".", each line flushed.
void PrintFormTable(std::ostream& out, const DriveList& list);

// One record per drive: drive, dsid, host, location, userid, volumename.
Poco::JSON::Array BuildQueryRecords(const DriveList& list);

}  // namespace VkSharemapper
