#pragma once
// What the salvage of a damaged log file keeps: every conversation whose
// stream is whole and reads as a record, and each account's index with the
// entries of those conversations (its counter above every number seen, so
// no lost conversation's number is handed out again). An index that cannot
// be read is made afresh without entries: the log store lists the kept
// conversations it does not name at the next sign-in.
#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

SalvagePlan PlanLogFileSalvage(const CompoundFileSalvage& file);

} // namespace parleym
