#pragma once

// Tables of cases kept as JSON under tests/data: each table is an object with "columns" (what each cell means)
// and "rows", one case a line.
#include <QString>

#include "core/base/json_util.h"
#include "temp_dir.h"

namespace taskbell::test {

inline Json dataTable(const char* file, const char* name)
{
    return Json::parse(readFile(std::string(TASKBELL_SOURCE_DIR "/tests/data/") + file)).at(name);
}

inline Json dataRows(const char* file, const char* name)
{
    return dataTable(file, name).at("rows");
}

inline QString text(const Json& value)
{
    return QString::fromStdString(value.get<std::string>());
}

} // namespace taskbell::test
