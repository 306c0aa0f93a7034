# Statistics and offline-message stream layouts.
parleym_add_fuzz_target(NAME fuzz_stats_streams SOURCES FuzzStatsStreams.cpp)
parleym_add_fuzz_target(NAME fuzz_offline_messages SOURCES FuzzOfflineMessages.cpp)
