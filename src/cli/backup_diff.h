// The comparison of two backups (workspace/backup_diff.h) as "tolv diff"
// prints it.
#pragma once

#include <cstdio>
#include <string>

#include "workspace/backup_diff.h"

namespace tolv::cli {

// BackupDiff_Text printed to out.
void PrintBackupDiffText(const BackupDiff& diff, const std::string& nameA, const std::string& nameB,
                         std::FILE* out);

// The comparison as one JSON object on one line: "a", "b", "same",
// "systemId" {"a","b" (null: none), "modelA", "modelB", "same"} and
// "components", one object per component in component order with "inA",
// "inB", "same", the sizes, and for one both hold "differingBytes",
// "firstDifference", the layouts of settings and "regions" (each with
// "region", "number", "start", "end", "differingBytes", "firstDifference",
// "runCount" and "runs" as [first,last] pairs).
void PrintBackupDiffJson(const BackupDiff& diff, const std::string& nameA, const std::string& nameB,
                         std::FILE* out);

}  // namespace tolv::cli
