#pragma once
// The one place the release's version number lives: the version resources of the three
// deliverables, the About box and the installer all read it from here.
#define PARLEYM_VERSION_MAJOR 1
#define PARLEYM_VERSION_MINOR 0
#define PARLEYM_VERSION_PATCH 0

#define PARLEYM_STRINGIFY_(x) #x
#define PARLEYM_STRINGIFY(x) PARLEYM_STRINGIFY_(x)
// Adjacent literals: joined by the compiler and by the resource compiler alike.
#define PARLEYM_VERSION_SHORT_TEXT PARLEYM_STRINGIFY(PARLEYM_VERSION_MAJOR) "." PARLEYM_STRINGIFY(PARLEYM_VERSION_MINOR)
#define PARLEYM_VERSION_TEXT PARLEYM_VERSION_SHORT_TEXT "." PARLEYM_STRINGIFY(PARLEYM_VERSION_PATCH)

#define PARLEYM_PRODUCT_NAME "Parleym"
#define PARLEYM_MAKER "The Parleym developers"
#define PARLEYM_COPYRIGHT "Copyright (C) 2026 " PARLEYM_MAKER
