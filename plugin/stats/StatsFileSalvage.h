#pragma once
// What the salvage of a damaged statistics file keeps: each account's
// statistics whose two streams are both whole and read in full (sessions
// name contacts of the other stream, so one is never kept without the
// other); an account whose statistics are lost keeps its storage, and its
// statistics start afresh at the next sign-in.
#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

SalvagePlan PlanStatsFileSalvage(const CompoundFileSalvage& file);

} // namespace parleym
