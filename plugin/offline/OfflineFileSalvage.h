#pragma once
// What the salvage of a damaged offline-message file keeps: each account's
// messages whose stream is whole and reads in full; an account whose stream
// is lost keeps its storage and starts with no messages.
#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

SalvagePlan PlanOfflineFileSalvage(const CompoundFileSalvage& file);

} // namespace parleym
