#pragma once
// What the salvage of a damaged object cache keeps: every cached picture
// whose storage is whole, has its picture data and, where the digest map
// recorded it, still has the digest recorded for it. The digest map is made
// afresh from the pictures kept. A key whose picture is lost keeps an empty
// storage, so it is never handed to another picture: logged conversations
// that name it then show nothing there rather than the wrong picture.
#include "plugin/storage/CompoundFileSalvage.h"
#include "plugin/storage/SalvagePlan.h"

namespace parleym {

SalvagePlan PlanObjectCacheSalvage(const CompoundFileSalvage& file);

} // namespace parleym
