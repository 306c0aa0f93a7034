# The look at a compound file before it is opened, and the salvage of one that fails it.
parleym_add_fuzz_target(NAME fuzz_compound_file_check SOURCES FuzzCompoundFileCheck.cpp)
parleym_add_fuzz_target(NAME fuzz_compound_file_salvage SOURCES FuzzCompoundFileSalvage.cpp)
# The journal beside a data file, as the open reads it.
parleym_add_fuzz_target(NAME fuzz_journal SOURCES FuzzJournal.cpp)
